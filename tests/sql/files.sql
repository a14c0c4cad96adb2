-- xp_FileSize, xp_FileDelete, xp_FileCopy and xp_GetLogicalDrives.
-- The drive root holds drives C: and D:; c:\data holds five.txt (5 bytes), empty.txt,
-- B.log (2 bytes), a.log (1 byte) and the directory sub.

-- Sizes of a file, an empty file, a directory (0) and the first match of a wildcard, in
-- name order without regard to case.
DECLARE @five int, @empty int, @dir int, @wild int
EXEC @five = xp_FileSize 'c:\data\five.txt'
EXEC @empty = xp_FileSize N'c:\data\empty.txt'
EXEC @dir = xp_FileSize 'c:\data\sub'
EXEC @wild = xp_FileSize 'c:\data\*.LOG'
SELECT @five AS Five, @empty AS Empty, @dir AS Directory, @wild AS FirstLog
GO

-- A missing file, a missing directory, a trailing backslash; a handle value that names no open
-- file. Each fails with the system's error text.
DECLARE @status int
EXEC @status = xp_FileSize 'c:\data\missing.txt'
EXEC xp_FileSize N'c:\nodir\x.txt'
EXEC xp_FileSize 'c:\data\'
EXEC xp_FileSize 2147483000
SELECT @status AS Status
GO

-- Wrong parameter lists.
EXEC xp_FileSize
EXEC xp_FileSize 'c:\data\five.txt', 1
EXEC xp_FileSize 0x01
GO

-- Copying: a new file; onto an existing file only with a third parameter whose lowest byte is
-- 1 (bit, tinyint, int); never with four parameters.
DECLARE @copy int, @again int, @size int
EXEC @copy = xp_FileCopy 'c:\data\five.txt', 'c:\data\copy.txt'
EXEC @size = xp_FileSize 'c:\data\copy.txt'
EXEC @again = xp_FileCopy 'c:\data\B.log', 'c:\data\copy.txt'
SELECT @copy AS Copied, @size AS Size, @again AS Again
GO
DECLARE @replace int, @size int, @yes bit = 1
EXEC @replace = xp_FileCopy 'c:\data\B.log', 'c:\data\copy.txt', @yes
EXEC @size = xp_FileSize 'c:\data\copy.txt'
SELECT @replace AS Replaced, @size AS Size
EXEC @replace = xp_FileCopy 'c:\data\a.log', 'c:\data\copy.txt', 2
EXEC @replace = xp_FileCopy 'c:\data\a.log', 'c:\data\copy.txt', 1, 1
EXEC @size = xp_FileSize 'c:\data\copy.txt'
SELECT @replace AS Replaced, @size AS Size
GO

-- A missing source, a target in a missing directory, a directory as target; the report
-- follows the DONE. OUTPUT parameters go back unchanged.
DECLARE @source varchar(30) = 'c:\data\missing.txt'
EXEC xp_FileCopy @source OUTPUT, 'c:\data\x.txt'
EXEC xp_FileCopy N'c:\data\five.txt', N'c:\nodir\x.txt'
EXEC xp_FileCopy 'c:\data\five.txt', 'c:\data\sub', 1
SELECT @source AS Source
GO
EXEC xp_FileCopy 'c:\data\five.txt'
EXEC xp_FileCopy 1, 'c:\data\x.txt'
EXEC xp_FileCopy 'c:\data\five.txt', 0x01
GO

-- Deleting: once, then the file is gone; a directory cannot be deleted.
DECLARE @deleted int, @twice int, @exists int
EXEC @deleted = xp_FileDelete 'c:\data\copy.txt'
EXEC @exists = xp_FileExists 'c:\data\copy.txt'
EXEC @twice = xp_FileDelete N'c:\data\copy.txt'
SELECT @deleted AS Deleted, @exists AS StillThere, @twice AS Twice
EXEC xp_FileDelete 'c:\data\sub'
EXEC xp_FileDelete 'c:\data\*.log'
EXEC xp_FileDelete
EXEC xp_FileDelete 5
GO

-- The drive letters: C: and D: are mapped (bits 2 and 3; Wine also maps Z: to its root
-- directory, bit 25); parameters are ignored.
DECLARE @drives int
EXEC @drives = xp_GetLogicalDrives
SELECT @drives AS Drives
EXEC @drives = xp_GetLogicalDrives 'ignored', 7
SELECT @drives AS Drives
GO

-- A switch given as another kind of number counts by its value: numeric 1 replaces; 0.5 is
-- no whole number and fails before anything is copied.
DECLARE @replace int, @size int, @one numeric(5, 2) = 1
EXEC @replace = xp_FileCopy 'c:\data\five.txt', 'c:\data\copy.txt', @one
EXEC @size = xp_FileSize 'c:\data\copy.txt'
SELECT @replace AS Replaced, @size AS Size
EXEC @replace = xp_FileCopy 'c:\data\B.log', 'c:\data\copy.txt', 0.5
EXEC @size = xp_FileSize 'c:\data\copy.txt'
SELECT @replace AS Replaced, @size AS Size
GO

-- A name holding a NUL character is refused, and nothing is deleted or copied: cut there it
-- would name another file. So is a 16-bit name holding a lone surrogate, which would become
-- U+FFFD like any other.
DECLARE @nul varchar(1) = CAST(0x00 AS varchar(1)), @lone nvarchar(1) = CAST(0x00D8 AS nvarchar(1))
DECLARE @cut varchar(30) = 'c:\data\a.log' + @nul + '.bak', @status int, @exists int
DECLARE @surrogate nvarchar(30) = N'c:\data\x' + @lone + N'.txt'
EXEC @status = xp_FileDelete @cut
EXEC @exists = xp_FileExists 'c:\data\a.log'
SELECT @status AS Deleted, @exists AS StillThere
EXEC xp_FileCopy 'c:\data\five.txt', @surrogate
EXEC xp_FileSize @surrogate
EXEC xp_FileExists @cut
GO
