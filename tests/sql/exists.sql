-- xp_FileExists and xp_DirExists: whether a path names an existing file or directory.
-- The drive root holds c:\data\in.txt and c:\data\жdata😀.txt.

-- A file, a directory (with and without the trailing backslash), a drive root, a missing
-- path, a wildcard, a file used as a directory and the empty path.
DECLARE @file int, @dir int
EXEC @file = xp_FileExists 'c:\data\in.txt'
EXEC @dir = xp_DirExists 'c:\data\in.txt'
SELECT @file AS FileExists, @dir AS DirExists
EXEC @file = xp_FileExists 'c:\data'
EXEC @dir = xp_DirExists 'c:\data'
SELECT @file AS FileExists, @dir AS DirExists
GO
DECLARE @slash int, @root int
EXEC @slash = xp_DirExists 'c:\data\'
EXEC @root = xp_DirExists 'c:\'
SELECT @slash AS DirWithBackslash, @root AS DriveRoot
GO
DECLARE @file int, @dir int
EXEC @file = xp_FileExists 'c:\missing.txt'
EXEC @dir = xp_DirExists 'c:\missing'
SELECT @file AS FileExists, @dir AS DirExists
EXEC @file = xp_FileExists 'c:\data\*.txt'
EXEC @dir = xp_DirExists 'c:\*'
SELECT @file AS FileExists, @dir AS DirExists
EXEC @file = xp_FileExists 'c:\data\in.txt\'
EXEC @dir = xp_DirExists ''
SELECT @file AS FileExists, @dir AS DirExists
GO

-- nvarchar paths go to the wide call unchanged: names outside the ANSI code page are found.
DECLARE @file int, @dir int, @path nvarchar(100) = N'c:\data\жdata😀.txt'
EXEC @file = xp_FileExists @path
EXEC @dir = xp_DirExists N'c:\data'
SELECT @file AS FileExists, @dir AS DirExists
GO

-- NULL text is a plain no, without a message.
DECLARE @file int, @dir int, @none varchar(10), @wide nvarchar(20)
EXEC @file = xp_FileExists @none
EXEC @dir = xp_DirExists @wide
SELECT @file AS FileExists, @dir AS DirExists
GO

-- A path of 8000 bytes fills the parameter area and is read whole, not past it; one byte
-- more is refused.
DECLARE @file int, @long varchar(max) = 'c:\' + REPLICATE(CAST('a' AS varchar(max)), 7997)
EXEC @file = xp_FileExists @long
SELECT @file AS FileExists, DATALENGTH(@long) AS Bytes
SET @long = @long + 'a'
EXEC @file = xp_FileExists @long
SELECT @file AS FileExists, DATALENGTH(@long) AS Bytes
DECLARE @wide nvarchar(max) = N'c:\' + REPLICATE(CAST(N'a' AS nvarchar(max)), 3997)
EXEC @file = xp_FileExists @wide
SELECT @file AS FileExists, DATALENGTH(@wide) AS Bytes
GO

-- Wrong parameter lists: none, two, and kinds other than text. Each is reported as an
-- informational message, and the DONE still follows.
EXEC xp_FileExists
EXEC xp_FileExists 'c:\data', 'c:\data'
EXEC xp_FileExists 1
EXEC xp_DirExists 0x0102
EXEC xp_DirExists NULL
DECLARE @when datetime = '2020-01-02', @status int
EXEC @status = xp_DirExists @when
SELECT @status AS Status
GO
