-- xp_ZCreate, xp_ZCompress, xp_ZDecompress and xp_ZClose: compression buffers that live
-- between calls, named by the handle xp_ZCreate returns, and zlib streams (level 9, header
-- 78 DA) in the one-row result set "Data". Handles count up from 1 in a fresh host.

-- An empty buffer compresses to the eight bytes of an empty zlib stream, the same bytes each
-- time; decompressing the empty buffer itself fails. The buffer stays registered after both.
DECLARE @h int, @compressed int, @again int, @decompressed int
EXEC @h = xp_ZCreate
EXEC @compressed = xp_ZCompress @h
EXEC @again = xp_ZCompress @h
EXEC @decompressed = xp_ZDecompress @h
SELECT @h AS Handle, @compressed AS Compressed, @again AS Again, @decompressed AS Decompressed
GO

-- The seed is the value exactly as passed: 'abc' is three bytes, N'abc' six. NULL, an empty
-- value, no parameter and two parameters leave the buffer empty. Every call gets a new handle.
DECLARE @narrow int, @wide int, @null int, @empty int, @two int
EXEC @narrow = xp_ZCreate 'abc'
EXEC @wide = xp_ZCreate N'abc'
EXEC @null = xp_ZCreate NULL
EXEC @empty = xp_ZCreate ''
EXEC @two = xp_ZCreate 'abc', 'def'
EXEC xp_ZCompress @narrow
EXEC xp_ZCompress @wide
EXEC xp_ZCompress @null
EXEC xp_ZCompress @empty
EXEC xp_ZCompress @two
SELECT @narrow AS Narrow, @wide AS Wide, @null AS NullSeed, @empty AS EmptySeed, @two AS Two
GO

-- Round trips: the "Data" of a compression, put into a new buffer, decompresses to the bytes
-- compressed; the empty stream to a row whose value has no bytes. 1000 bytes of 'ab' take
-- three growth steps of 256 bytes after the first 256.
DECLARE @h int
EXEC @h = xp_ZCreate 0x78DA030000000001
EXEC xp_ZDecompress @h
EXEC @h = xp_ZCreate 'hello hello hello'
EXEC xp_ZCompress @h
EXEC @h = xp_ZCreate 0x78DACB48CDC9C957C84090003A2E067D
EXEC xp_ZDecompress @h
EXEC @h = xp_ZCreate N'abc'
EXEC xp_ZCompress @h
EXEC @h = xp_ZCreate 0x78DA4B64486248660000049A0127
EXEC xp_ZDecompress @h
GO
DECLARE @h int, @seed varchar(1000) = REPLICATE('ab', 500)
EXEC @h = xp_ZCreate @seed
EXEC xp_ZCompress @h
EXEC @h = xp_ZCreate 0x78DA4B4C4A1C85A370140E730800CAA47CEC
EXEC xp_ZDecompress @h
GO

-- A seed of 100000 bytes is stored whole: its stream ends with the Adler-32 of 100000 'x'.
DECLARE @h int, @seed varchar(max) = REPLICATE(CAST('x' AS varchar(max)), 100000)
EXEC @h = xp_ZCreate @seed
EXEC xp_ZCompress @h
GO

-- One mebibyte of zero bytes compresses to 1039 bytes: 17 bytes, 1016 zero bytes and six more.
-- That stream decompresses through some 820 growth steps of 1280 bytes to the mebibyte.
DECLARE @zero varchar(max) = CAST(0x00 AS varchar(1)), @h int
DECLARE @zeros varchar(max) = REPLICATE(@zero, 1048576)
DECLARE @stream varbinary(max) = 0x78DAEDC13101000000C2A0F54F6D085FA0
                                 + CAST(REPLICATE(@zero, 1016) AS varbinary(max)) + 0x3E0300F00001
EXEC @h = xp_ZCreate @zeros
EXEC xp_ZCompress @h
EXEC @h = xp_ZCreate @stream
EXEC xp_ZDecompress @h
GO

-- Streams of other compressors decompress: stored blocks (level 0), level 1 and level 6.
-- Bytes after the end of a stream are not looked at.
DECLARE @stored int, @fast int, @default int, @trailing int
EXEC @stored = xp_ZCreate 0x7801012B00D4FF54686520717569636B2062726F776E20666F78206A756D7073206F76657220746865206C617A7920646F675BDC0FDA
EXEC @fast = xp_ZCreate 0x78010BC94855282CCD4CCE56482ACA2FCF5348CBAF50C82ACD2D2856C82F4B2D5228014AE72456552AA4E4A703005BDC0FDA
EXEC @default = xp_ZCreate 0x789C0BC94855282CCD4CCE56482ACA2FCF5348CBAF50C82ACD2D2856C82F4B2D5228014AE72456552AA4E4A703005BDC0FDA
EXEC @trailing = xp_ZCreate 0x78DACB48CDC9C957C84090003A2E067DFFFF00
EXEC xp_ZDecompress @stored
EXEC xp_ZDecompress @fast
EXEC xp_ZDecompress @default
EXEC xp_ZDecompress @trailing
GO

-- Damaged and foreign data fails with "Error", no row sent: the last Adler-32 byte flipped,
-- the Adler-32 cut off, gzip, raw deflate, a stream that asks for a preset dictionary, and
-- bytes that are no stream at all.
DECLARE @status int, @h int
EXEC @h = xp_ZCreate 0x78DACB48CDC9C957C84090003A2E067C
EXEC @status = xp_ZDecompress @h
SELECT @status AS FlippedAdler
EXEC @h = xp_ZCreate 0x78DACB48CDC9C957C8409000
EXEC xp_ZDecompress @h
EXEC @h = xp_ZCreate 0x1F8B08000000000002034B4C4A0600C241243503000000
EXEC xp_ZDecompress @h
EXEC @h = xp_ZCreate 0x4B4C4A0600
EXEC xp_ZDecompress @h
EXEC @h = xp_ZCreate 0x78F9024D01274B042300080C024D
EXEC xp_ZDecompress @h
EXEC @h = xp_ZCreate 'not a zlib stream'
EXEC xp_ZDecompress @h
GO

-- A failed decompression leaves the buffer as it was: it still compresses.
DECLARE @h int
EXEC @h = xp_ZCreate 0x78DACB48CDC9C957C84090003A2E067C
EXEC xp_ZDecompress @h
EXEC xp_ZCompress @h
GO

-- Handles that name no buffer: one never returned, 0 from NULL, and no parameter at all.
EXEC xp_ZCompress 12345
EXEC xp_ZDecompress 12345
EXEC xp_ZCompress NULL
EXEC xp_ZDecompress
GO

-- xp_ZClose releases the buffer: using its handle afterwards fails. Closing it again, closing
-- a handle never returned or 0 changes nothing and returns 1; without a parameter it fails.
DECLARE @h int, @first int, @second int, @unknown int, @zero int, @none int
EXEC @h = xp_ZCreate 'abc'
EXEC xp_ZCompress @h
EXEC @first = xp_ZClose @h
EXEC xp_ZCompress @h
EXEC xp_ZDecompress @h
EXEC @second = xp_ZClose @h
EXEC @unknown = xp_ZClose 12345
EXEC @zero = xp_ZClose NULL
EXEC @none = xp_ZClose
SELECT @first AS First, @second AS Second, @unknown AS Unknown, @zero AS Zero, @none AS NoParameter
GO

-- Closing one buffer leaves the others: the next buffer gets a new handle and the earlier
-- ones still compress.
DECLARE @a int, @b int, @c int
EXEC @a = xp_ZCreate 'a'
EXEC @b = xp_ZCreate 'b'
EXEC xp_ZClose @a
EXEC @c = xp_ZCreate 'c'
EXEC xp_ZCompress @b
EXEC xp_ZCompress @c
SELECT @a AS A, @b AS B, @c AS C
GO

-- A handle given as another kind of number counts by its value, never by its bytes: money,
-- float and numeric values name the buffer of their whole value. A value that is not whole,
-- or does not fit an int, names no buffer and fails before anything is closed.
DECLARE @h int, @money money, @float float, @half int, @big int, @compressed int, @closed int
EXEC @h = xp_ZCreate 'kept'
SET @money = @h
SET @float = @h
EXEC @half = xp_ZClose 1.5
EXEC @big = xp_ZClose 4294967297
EXEC @compressed = xp_ZCompress @float
EXEC @closed = xp_ZClose @money
EXEC xp_ZCompress @h
SELECT @half AS Half, @big AS Big, @compressed AS Compressed, @closed AS Closed
GO
