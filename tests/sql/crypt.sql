-- xp_sha_quick and xp_sha_quick_compare: SHA-1 digests as 40 lower-case hexadecimal digits or
-- as 20 bytes. xp_symmetric_quick_encode and xp_symmetric_quick_decode: RC2, RC4 and DES under
-- a key made from a password, the cipher bytes exactly as the provider makes them.

-- The FIPS 180-1 digest of 'abc', as text and, with the form 'bin', as bytes.
DECLARE @hex varchar(40), @raw varbinary(20), @status int
EXEC @status = xp_sha_quick 'abc', @hex OUTPUT
SELECT @status AS Status, @hex AS Digest
EXEC @status = xp_sha_quick 'abc', @raw OUTPUT, 'bin'
SELECT @status AS Status, @raw AS Digest
GO

-- The value is hashed as passed: N'abc' is the six bytes 61 00 62 00 63 00. A varchar(10)
-- output keeps the first ten digits.
DECLARE @wide varchar(40), @short varchar(10)
EXEC xp_sha_quick N'abc', @wide OUTPUT
EXEC xp_sha_quick 'abc', @short OUTPUT
SELECT @wide AS WideDigest, @short AS FirstTen
GO

-- Comparing: the lower-case digits match, upper case does not; bytes after the digest are
-- not looked at, a prefix is not enough; the 20 bytes match with the form 'bin' only.
DECLARE @lower int, @upper int, @longer int, @prefix int, @bin int, @nobin int
EXEC @lower = xp_sha_quick_compare 'abc', 'a9993e364706816aba3e25717850c26c9cd0d89d'
EXEC @upper = xp_sha_quick_compare 'abc', 'A9993E364706816ABA3E25717850C26C9CD0D89D'
EXEC @longer = xp_sha_quick_compare 'abc', 'a9993e364706816aba3e25717850c26c9cd0d89d and more'
EXEC @prefix = xp_sha_quick_compare 'abc', 'a9993e364706816aba3e'
EXEC @bin = xp_sha_quick_compare 'abc', 0xA9993E364706816ABA3E25717850C26C9CD0D89D, 'bin'
EXEC @nobin = xp_sha_quick_compare 'abc', 0xA9993E364706816ABA3E25717850C26C9CD0D89D
SELECT @lower AS Lower, @upper AS Upper, @longer AS Longer, @prefix AS Prefix, @bin AS Bin,
       @nobin AS NoBin
GO

-- An empty source: -1 without a message, the output parameter as it came.
DECLARE @hex varchar(40) = 'unchanged', @hashed int, @compared int
EXEC @hashed = xp_sha_quick '', @hex OUTPUT
EXEC @compared = xp_sha_quick_compare '', 'a9993e364706816aba3e25717850c26c9cd0d89d'
SELECT @hashed AS Hashed, @compared AS Compared, @hex AS Digest
GO

-- Failures name the routine after the message.
EXEC xp_sha_quick 'abc'
EXEC xp_sha_quick_compare 'abc', ''
GO

-- Round trips. RC2 and DES pad to whole 8-byte blocks; RC4 cipher bytes are as long as the
-- source. Algorithm names are read in any letter case.
DECLARE @source varchar(20) = 'attack at dawn', @cipher varbinary(16), @plain varbinary(16)
EXEC xp_symmetric_quick_encode 'RC2', 'secret', @source, @cipher OUTPUT
EXEC xp_symmetric_quick_decode 'rc2', 'secret', @cipher, @plain OUTPUT
SELECT 'RC2' AS Algorithm, @cipher AS Cipher, CAST(@plain AS varchar(20)) AS Plain
EXEC xp_symmetric_quick_encode 'Rc4', 'secret', @source, @cipher OUTPUT
EXEC xp_symmetric_quick_decode 'RC4', 'secret', @cipher, @plain OUTPUT
SELECT 'RC4' AS Algorithm, @cipher AS Cipher, DATALENGTH(@cipher) AS Bytes,
       CAST(@plain AS varchar(20)) AS Plain
EXEC xp_symmetric_quick_encode 'DES', 'secret', @source, @cipher OUTPUT
EXEC xp_symmetric_quick_decode 'des', 'secret', @cipher, @plain OUTPUT
SELECT 'DES' AS Algorithm, @cipher AS Cipher, CAST(@plain AS varchar(20)) AS Plain
GO

-- The key is made from the MD5 hash of nothing; the password only fills the IV (8 bytes)
-- and the salt (11 bytes) from its end. Passwords that share their last 11 bytes give the
-- same cipher bytes, and so do the same password in 8-bit and in 16-bit text.
DECLARE @a varbinary(8), @b varbinary(8), @c varbinary(8), @d varbinary(8)
EXEC xp_symmetric_quick_encode 'RC2', 'alpha:shared-tail', 'message', @a OUTPUT
EXEC xp_symmetric_quick_encode 'RC2', 'a longer beta:shared-tail', 'message', @b OUTPUT
EXEC xp_symmetric_quick_encode 'RC4', 'Secret', 'message', @c OUTPUT
EXEC xp_symmetric_quick_encode 'RC4', N'Secret', 'message', @d OUTPUT
SELECT @a AS SharedTail1, @b AS SharedTail2
SELECT @c AS Narrow, @d AS Wide
GO

-- Failures, in the order of the checks; a failed call changes no output parameter.
DECLARE @out varbinary(8) = 0x0123, @status int
EXEC @status = xp_symmetric_quick_encode ' RC4', 'pw', 'source', @out OUTPUT
EXEC xp_symmetric_quick_encode 'AES', '', '', @out OUTPUT
EXEC xp_symmetric_quick_encode 'RC4', '', 'source', @out OUTPUT
EXEC xp_symmetric_quick_encode 'RC4', 'pw', NULL, @out OUTPUT
EXEC xp_symmetric_quick_encode 'RC2', 0x0102, 'source', @out OUTPUT
EXEC xp_symmetric_quick_encode 'RC2', 'pw', 'source'
SELECT @status AS Status, @out AS Output
GO

-- Damaged cipher bytes: cut short, or with the padding block cut off. A wrong password for
-- DES fails nowhere: DES has no salt, so the password is only the IV, which reaches the
-- first block alone.
DECLARE @cipher varbinary(24), @plain varbinary(24) = 0x0123
EXEC xp_symmetric_quick_encode 'DES', 'pw', 'sixteen byte msg', @cipher OUTPUT
DECLARE @cut varbinary(23) = @cipher, @nopad varbinary(16) = @cipher
EXEC xp_symmetric_quick_decode 'DES', 'pw', @cut, @plain OUTPUT
EXEC xp_symmetric_quick_decode 'DES', 'pw', @nopad, @plain OUTPUT
SELECT @plain AS Plain
EXEC xp_symmetric_quick_decode 'DES', 'wrong', @cipher, @plain OUTPUT
SELECT @plain AS WrongPassword
GO

-- Without OUTPUT the call succeeds and returns nothing.
DECLARE @out varbinary(8), @status int
EXEC @status = xp_symmetric_quick_encode 'RC4', 'pw', 'source', @out
SELECT @status AS Status, @out AS Output
GO

-- An OUTPUT parameter that cannot take text or bytes (an int) fails before anything is
-- hashed or encrypted; it goes back unchanged.
DECLARE @n int = 7, @hashed int, @encoded int
EXEC @hashed = xp_sha_quick 'abc', @n OUTPUT
EXEC @encoded = xp_symmetric_quick_encode 'RC4', 'pw', 'source', @n OUTPUT
SELECT @hashed AS Hashed, @encoded AS Encoded, @n AS Output
GO
