-- A tour of Dunmarrow's procedures: `make run`, or build/host/dunmarrow -i examples/tour.sql
-- Drive letters are folders under the drive root (--drive-root; by default
-- ~/.local/share/dunmarrow/drives): c:\dir\f.txt is <drive root>/c/dir/f.txt.

PRINT '== Existence checks: xp_FileExists, xp_DirExists =='
PRINT 'The answer is the return status: 1 for yes, 0 for no.'
DECLARE @dir int, @file int
EXEC @dir = xp_DirExists 'c:\'
EXEC @file = xp_FileExists 'c:\no such file.txt'
SELECT @dir AS [c:\ is a directory], @file AS [c:\no such file.txt is a file]
GO

PRINT 'Paths without a drive letter are used as they are; nvarchar paths keep every character.'
DECLARE @tmp int, @wide int
EXEC @tmp = xp_DirExists '/tmp'
EXEC @wide = xp_FileExists N'/tmp/naïve-日本.txt'
SELECT @tmp AS [/tmp is a directory], @wide AS [/tmp/naïve-日本.txt is a file]
GO

PRINT 'A wrong parameter list is answered with a message and the status -1;'
PRINT 'the failure is also written to the diagnostic log c:\Wexcombe.log.'
DECLARE @status int, @logged int
EXEC @status = xp_FileExists 42
EXEC @logged = xp_FileExists 'c:\Wexcombe.log'
SELECT @status AS Status, @logged AS [c:\Wexcombe.log is a file]
GO

PRINT '== Hashing: xp_sha_quick, xp_sha_quick_compare =='
PRINT 'The SHA-1 digest as 40 hexadecimal digits, or as 20 bytes with the form ''bin''.'
DECLARE @hex varchar(40), @raw varbinary(20), @same int
EXEC xp_sha_quick 'abc', @hex OUTPUT
EXEC xp_sha_quick 'abc', @raw OUTPUT, 'bin'
EXEC @same = xp_sha_quick_compare 'abc', @hex
SELECT @hex AS [SHA-1 of abc], @raw AS [as bytes], @same AS [compare gives]
GO

PRINT '== Encryption: xp_symmetric_quick_encode, xp_symmetric_quick_decode =='
PRINT 'RC2, RC4 or DES under a password, as the Windows Base provider encrypts: each platform decodes the other''s bytes.'
DECLARE @cipher varbinary(32), @plain varbinary(32)
EXEC xp_symmetric_quick_encode 'RC2', 'my password', 'attack at dawn', @cipher OUTPUT
EXEC xp_symmetric_quick_decode 'RC2', 'my password', @cipher, @plain OUTPUT
SELECT @cipher AS [RC2 cipher bytes], CAST(@plain AS varchar(32)) AS [decoded]
GO
