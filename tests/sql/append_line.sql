-- xp_FileAppendLine: appends a value and a line end to a file, creating the file if needed.
-- The drive root holds the directory c:\out (with a subdirectory dir); the sizes show the
-- bytes appended.

-- 'abc' and CR LF make 5 bytes; 'def' 5 more; N'ab' is 4 bytes of UTF-16 and a 4-byte UTF-16
-- CR LF; 0x0001FF and CR LF make 5.
DECLARE @status int, @size int
EXEC @status = xp_FileAppendLine 'c:\out\log.txt', 'abc'
EXEC @size = xp_FileSize 'c:\out\log.txt'
SELECT @status AS Status, @size AS Size
EXEC xp_FileAppendLine 'c:\out\log.txt', 'def'
EXEC xp_FileAppendLine N'c:\out\log.txt', N'ab'
EXEC xp_FileAppendLine 'c:\out\log.txt', 0x0001FF
EXEC @size = xp_FileSize 'c:\out\log.txt'
SELECT @size AS Size
GO

-- A third parameter whose first four bytes are not all zero selects LF alone (one byte, or
-- two in UTF-16): 1, a smallint 256, even the text '0'. 0, NULL and '' keep CR LF.
DECLARE @size int, @none int
EXEC xp_FileAppendLine 'c:\out\lf.txt', 'abc', 1
EXEC xp_FileAppendLine 'c:\out\lf.txt', N'ab', 1
EXEC @size = xp_FileSize 'c:\out\lf.txt'
SELECT @size AS Size
DECLARE @small smallint = 256
EXEC xp_FileAppendLine 'c:\out\lf.txt', 'x', @small
EXEC xp_FileAppendLine 'c:\out\lf.txt', 'x', '0'
EXEC @size = xp_FileSize 'c:\out\lf.txt'
SELECT @size AS Size
EXEC xp_FileAppendLine 'c:\out\lf.txt', 'x', 0
EXEC xp_FileAppendLine 'c:\out\lf.txt', 'x', @none
EXEC xp_FileAppendLine 'c:\out\lf.txt', 'x', ''
EXEC @size = xp_FileSize 'c:\out\lf.txt'
SELECT @size AS Size
GO

-- An empty or NULL value appends nothing and creates no file.
DECLARE @status int, @exists int, @none varchar(10)
EXEC @status = xp_FileAppendLine 'c:\out\empty.txt', ''
EXEC xp_FileAppendLine 'c:\out\empty.txt', @none
EXEC @exists = xp_FileExists 'c:\out\empty.txt'
SELECT @status AS Status, @exists AS Created
GO

-- A value of 8000 bytes is written whole; one byte more is refused and nothing is written.
DECLARE @value varchar(max) = REPLICATE(CAST('v' AS varchar(max)), 8000), @size int
EXEC xp_FileAppendLine 'c:\out\long.txt', @value
EXEC @size = xp_FileSize 'c:\out\long.txt'
SELECT @size AS Size, DATALENGTH(@value) AS Bytes
SET @value = @value + 'v'
EXEC xp_FileAppendLine 'c:\out\long.txt', @value
EXEC @size = xp_FileSize 'c:\out\long.txt'
SELECT @size AS Size, DATALENGTH(@value) AS Bytes
GO

-- Names that cannot be a file: a directory, wildcards, a missing directory. The file is
-- neither opened nor created: the range failure.
EXEC xp_FileAppendLine 'c:\out\dir', 'abc'
EXEC xp_FileAppendLine 'c:\out\*.txt', 'abc'
EXEC xp_FileAppendLine N'c:\nodir\log.txt', 'abc'
GO

-- Wrong parameter lists: one or four parameters, an int name, an int value.
EXEC xp_FileAppendLine 'c:\out\log.txt'
EXEC xp_FileAppendLine 'c:\out\log.txt', 'a', 1, 1
EXEC xp_FileAppendLine 1, 'a'
EXEC xp_FileAppendLine 'c:\out\log.txt', 1
GO

-- A switch given as another kind of number counts by its value, not by its bytes: numeric 0
-- keeps CR LF, float 1 selects LF; 0.5 is no whole number and fails before the file is
-- touched.
DECLARE @zero numeric(5, 2) = 0, @one float = 1, @size int, @status int
EXEC xp_FileAppendLine 'c:\out\number.txt', 'abc', @zero
EXEC @size = xp_FileSize 'c:\out\number.txt'
SELECT @size AS Size
EXEC xp_FileAppendLine 'c:\out\number.txt', 'abc', @one
EXEC @size = xp_FileSize 'c:\out\number.txt'
SELECT @size AS Size
EXEC @status = xp_FileAppendLine 'c:\out\number.txt', 'abc', 0.5
EXEC @size = xp_FileSize 'c:\out\number.txt'
SELECT @status AS Status, @size AS Size
GO
