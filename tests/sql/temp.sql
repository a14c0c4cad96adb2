-- xp_GetTempDir and xp_GetTempFile. Their results depend on the temporary directory of the
-- host process and on the clock (the number in a new name), so this file holds the calls
-- that fail; the unit tests hold the names and lengths.

-- xp_GetTempDir takes exactly one text parameter.
DECLARE @dir varchar(100), @n int
EXEC xp_GetTempDir
EXEC xp_GetTempDir @n OUTPUT
EXEC xp_GetTempDir @dir OUTPUT, @dir OUTPUT
GO

-- xp_GetTempFile needs its first parameter as text and OUTPUT: otherwise no file is made
-- (c:\tmp holds readme.txt only, so no *.TMP name matches afterwards).
DECLARE @name varchar(260), @n int
EXEC xp_GetTempFile
EXEC xp_GetTempFile @name, 'c:\tmp', 'abc'
EXEC xp_GetTempFile @n OUTPUT, 'c:\tmp'
EXEC xp_FileSize 'c:\tmp\*.TMP'
GO

-- A directory that does not exist: the system's error, after the DONE; the OUTPUT parameter
-- goes back unchanged.
DECLARE @name varchar(260) = 'before', @status int
EXEC @status = xp_GetTempFile @name OUTPUT, 'c:\missing', 'abc'
SELECT @status AS Status, @name AS Name
GO

-- A name longer than the OUTPUT parameter fails before any file is made: 'c:\tmp\abc', up to
-- four hexadecimal digits and '.TMP' need 18 characters, the parameter holds 12. A NUL in the
-- directory or the prefix is refused too.
DECLARE @short varchar(12) = 'before', @name varchar(260), @status int
DECLARE @cut varchar(20) = 'c:\tmp' + CAST(0x00 AS varchar(1)) + 'x'
EXEC @status = xp_GetTempFile @short OUTPUT, 'c:\tmp', 'abc'
SELECT @status AS Status, @short AS Name
EXEC xp_GetTempFile @name OUTPUT, @cut, 'abc'
EXEC xp_GetTempFile @name OUTPUT, 'c:\tmp', @cut
EXEC xp_FileSize 'c:\tmp\*.TMP'
GO
