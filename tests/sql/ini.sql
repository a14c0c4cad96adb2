-- xp_IniWriteKey and xp_IniReadKey: single keys of INI files.
-- The drive root starts empty apart from c:\cfg\base.ini.

-- Writing Name=abc into section Main of a missing file creates it; reading it back gives abc
-- and the status 3. Names match without regard to case.
DECLARE @status int, @value varchar(100)
EXEC @status = xp_IniWriteKey 'c:\cfg\app.ini', 'Main', 'Name', 'abc'
SELECT @status AS Written
EXEC @status = xp_IniReadKey 'c:\cfg\app.ini', 'MAIN', 'name', 'x', @value OUTPUT
SELECT @status AS Status, @value AS Value
GO

-- A missing key gives the default (its length is the status); an empty default gives an
-- empty text (NULL to the server) and 0; a missing file gives the default too.
DECLARE @status int, @value varchar(100)
EXEC @status = xp_IniReadKey 'c:\cfg\app.ini', 'Main', 'Missing', 'dflt', @value OUTPUT
SELECT @status AS Status, @value AS Value
EXEC @status = xp_IniReadKey 'c:\cfg\app.ini', 'Main', 'Missing', '', @value OUTPUT
SELECT @status AS Status, @value AS Value
EXEC @status = xp_IniReadKey 'c:\cfg\none.ini', 'Main', 'Name', 'no file', @value OUTPUT
SELECT @status AS Status, @value AS Value
GO

-- The existing file: comments, quotes, spaces around names and values, a key written again.
DECLARE @status int, @a varchar(50), @b varchar(50), @c varchar(50), @d varchar(50)
EXEC xp_IniReadKey 'c:\cfg\base.ini', 'Server', 'Host', '', @a OUTPUT
EXEC xp_IniReadKey 'c:\cfg\base.ini', 'Server', 'Motd', '', @b OUTPUT
EXEC xp_IniReadKey 'c:\cfg\base.ini', 'Server', 'Port', '', @c OUTPUT
EXEC xp_IniReadKey 'c:\cfg\base.ini', 'Server', 'Disabled', 'commented out', @d OUTPUT
SELECT @a AS Host, @b AS Motd, @c AS Port, @d AS Disabled
EXEC xp_IniWriteKey 'c:\cfg\base.ini', 'server', 'PORT', '8080'
EXEC xp_IniWriteKey 'c:\cfg\base.ini', 'Server', 'Added', 'yes'
EXEC xp_IniReadKey 'c:\cfg\base.ini', 'Server', 'Port', '', @c OUTPUT
EXEC xp_IniReadKey 'c:\cfg\base.ini', 'Client', 'Name', '', @d OUTPUT
SELECT @c AS Port, @d AS Client
GO

-- An empty value keeps the key, empty; it does not delete it.
DECLARE @status int, @value varchar(10)
EXEC xp_IniWriteKey 'c:\cfg\app.ini', 'Main', 'Name', ''
EXEC @status = xp_IniReadKey 'c:\cfg\app.ini', 'Main', 'Name', 'deleted?', @value OUTPUT
SELECT @status AS Status, @value AS Value
GO

-- A value of 3000 characters reads back as its first 2047, with the status 2047.
DECLARE @long varchar(max) = REPLICATE(CAST('v' AS varchar(max)), 3000), @value varchar(max)
DECLARE @status int
EXEC xp_IniWriteKey 'c:\cfg\app.ini', 'Main', 'Long', @long
EXEC @status = xp_IniReadKey 'c:\cfg\app.ini', 'Main', 'Long', '', @value OUTPUT
SELECT @status AS Status, DATALENGTH(@value) AS Bytes
GO

-- nvarchar texts are ANSI text for the profile functions (UTF-8 on Linux): nothing is lost,
-- and names match without regard to case beyond ASCII too (but SS is not ß; Wine folds ASCII
-- letters only, so it finds no GRÜßE). The value goes
-- back into an nvarchar as UTF-16 and into a varchar(5) as its first 5 bytes.
DECLARE @wide nvarchar(20), @other nvarchar(20), @short varchar(5), @status int
EXEC xp_IniWriteKey N'c:\cfg\app.ini', N'Grüße', N'Key', N'€ and ж'
EXEC @status = xp_IniReadKey 'c:\cfg\app.ini', N'GRÜßE', 'key', '', @wide OUTPUT
EXEC xp_IniReadKey 'c:\cfg\app.ini', N'GRÜSSE', 'key', 'another section', @other OUTPUT
SELECT @status AS Status, @wide AS Value, @other AS Other
EXEC xp_IniReadKey 'c:\cfg\app.ini', 'Main', 'Long', '', @short OUTPUT
SELECT @short AS Short
GO

-- Without OUTPUT the status still tells the length; nothing comes back.
DECLARE @status int, @value varchar(10) = 'unchanged'
EXEC @status = xp_IniReadKey 'c:\cfg\app.ini', 'Main', 'Long', '', @value
SELECT @status AS Status, @value AS Value
GO

-- A file in a missing directory cannot be written: the system's error, after the DONE.
EXEC xp_IniWriteKey 'c:\nodir\app.ini', 'Main', 'Name', 'abc'
GO

-- Wrong parameter lists: three or five parameters to the writer, four or an int fifth to the
-- reader.
DECLARE @n int
EXEC xp_IniWriteKey 'c:\cfg\app.ini', 'Main', 'Name'
EXEC xp_IniWriteKey 'c:\cfg\app.ini', 'Main', 'Name', 'a', 'b'
EXEC xp_IniWriteKey 'c:\cfg\app.ini', 'Main', 'Name', 1
EXEC xp_IniReadKey 'c:\cfg\app.ini', 'Main', 'Name', 'd'
EXEC xp_IniReadKey 'c:\cfg\app.ini', 'Main', 'Name', 'd', @n OUTPUT
GO

-- Writes that would add other lines, or that no read could find again, are refused before the
-- file is touched, with a message naming the parameter: a line break in the section, key or
-- value (x CR LF Admin=1 CR LF [Other] would add a key and a section), ']' in the section,
-- '=' in the key, a key starting with ';' or '[' (after spaces), a NUL in any text. The file
-- keeps its size and has no Admin key.
DECLARE @crlf varchar(2) = CAST(0x0D0A AS varchar(2)), @nul varchar(1) = CAST(0x00 AS varchar(1))
DECLARE @inject varchar(40) = 'x' + @crlf + 'Admin=1' + @crlf + '[Other]'
DECLARE @section varchar(20) = 'Main' + @crlf, @key varchar(20) = 'Na' + CAST(0x0A AS varchar(1)) + 'me'
DECLARE @cut varchar(20) = 'x' + @nul + 'y', @value varchar(40), @before int, @after int, @n int
EXEC xp_IniWriteKey 'c:\cfg\guard.ini', 'Main', 'Name', 'abc'
EXEC @before = xp_FileSize 'c:\cfg\guard.ini'
EXEC xp_IniWriteKey 'c:\cfg\guard.ini', 'Main', 'Name', @inject
EXEC xp_IniWriteKey 'c:\cfg\guard.ini', @section, 'Name', 'x'
EXEC xp_IniWriteKey 'c:\cfg\guard.ini', 'Main', @key, 'x'
EXEC xp_IniWriteKey 'c:\cfg\guard.ini', 'Ma]in', 'Name', 'x'
EXEC xp_IniWriteKey 'c:\cfg\guard.ini', 'Main', 'Na=me', 'x'
EXEC xp_IniWriteKey 'c:\cfg\guard.ini', 'Main', '  ;Name', 'x'
EXEC xp_IniWriteKey 'c:\cfg\guard.ini', 'Main', '[Name', 'x'
EXEC xp_IniWriteKey 'c:\cfg\guard.ini', 'Main', 'Name', @cut
EXEC xp_IniWriteKey 'c:\cfg\guard.ini', @cut, 'Name', 'x'
EXEC @after = xp_FileSize 'c:\cfg\guard.ini'
EXEC @n = xp_IniReadKey 'c:\cfg\guard.ini', 'Main', 'Admin', 'none', @value OUTPUT
SELECT @before AS Before, @after AS After, @value AS Admin
EXEC xp_IniReadKey 'c:\cfg\guard.ini', 'Main', @cut, 'none', @value OUTPUT
GO

-- Spaces around the section and key are no problem: they go, as before.
DECLARE @value varchar(40)
EXEC xp_IniWriteKey 'c:\cfg\guard.ini', '  Spaced  ', '  Key  ', 'v;[]='
EXEC xp_IniReadKey 'c:\cfg\guard.ini', 'Spaced', 'Key', 'none', @value OUTPUT
SELECT @value AS Value
GO
