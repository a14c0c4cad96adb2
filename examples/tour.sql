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

PRINT '== Files: xp_GetTempDir, xp_GetTempFile, xp_FileAppendLine, xp_FileSize, xp_FileCopy, xp_FileDelete, xp_GetLogicalDrives =='
PRINT 'A fresh temporary file in c:\, two lines appended (CR LF each), its size, a copy, and both deleted.'
DECLARE @temp varchar(260), @name varchar(260), @size int, @copied int, @deleted int, @drives int
EXEC xp_GetTempDir @temp OUTPUT
EXEC xp_GetTempFile @name OUTPUT, 'c:\', 'tour'
EXEC xp_FileAppendLine @name, 'first line'
EXEC xp_FileAppendLine @name, 'second line'
EXEC @size = xp_FileSize @name
EXEC @copied = xp_FileCopy @name, 'c:\tour copy.txt'
EXEC @deleted = xp_FileDelete 'c:\tour copy.txt'
EXEC xp_FileDelete @name
EXEC @drives = xp_GetLogicalDrives
SELECT @size AS [bytes after two lines], @copied AS [copied], @deleted AS [copy deleted],
       @drives AS [drive mask (bit 2 is C:)]
GO

PRINT '== INI files: xp_IniWriteKey, xp_IniReadKey =='
PRINT 'Keys are written in place; a read returns the value''s length, or the default''s when the key is missing.'
DECLARE @value varchar(40), @missing varchar(40), @length int, @fallback int
EXEC xp_IniWriteKey 'c:\tour.ini', 'Server', 'Name', 'dunmarrow-test'
EXEC @length = xp_IniReadKey 'c:\tour.ini', 'SERVER', 'name', '', @value OUTPUT
EXEC @fallback = xp_IniReadKey 'c:\tour.ini', 'Server', 'Port', '1433', @missing OUTPUT
EXEC xp_FileDelete 'c:\tour.ini'
SELECT @value AS [Name], @length AS [its length], @missing AS [Port (default)], @fallback AS [its length]
GO

PRINT '== Formatting: xp_FormatStr =='
PRINT 'printf-style formats into the first parameter: integers, floats, money and text.'
DECLARE @line nvarchar(80)
EXEC xp_FormatStr @line OUTPUT, '%-8s|%5d|%8.3f|%m', 'bolts', 42, 3.14159, $1234.5
SELECT @line AS [formatted]
GO

PRINT '== Compression: xp_ZCreate, xp_ZCompress, xp_ZDecompress, xp_ZClose =='
PRINT 'A buffer on the server holds bytes until it is closed; each call returns its zlib form, or its inflated form, as one row.'
DECLARE @text int, @stream int, @closed int
EXEC @text = xp_ZCreate 'to be or not to be, to be or not to be, to be or not to be'
EXEC xp_ZCompress @text
EXEC @stream = xp_ZCreate 0x78DACB48CDC9C957C84090003A2E067D
EXEC xp_ZDecompress @stream
EXEC @closed = xp_ZClose @text
EXEC xp_ZClose @stream
SELECT @closed AS [closed]
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

PRINT '== Network: xp_GetAddrByHost, xp_GetHostByAddr, xp_Ping =='
PRINT 'Names and addresses of the loopback interface, and two echoes to it (round-trip times in ms).'
DECLARE @address varchar(20), @host varchar(100)
EXEC xp_GetAddrByHost 'localhost', @address OUTPUT
EXEC xp_GetHostByAddr '127.0.0.1', @host OUTPUT
SELECT @address AS [localhost is], @host AS [127.0.0.1 is]
GO
DECLARE @lost int, @percent int
EXEC xp_Ping '127.0.0.1', 1000, 2, @LostPackets = @lost OUTPUT, @PercentLost = @percent OUTPUT
SELECT @lost AS [lost], @percent AS [percent lost]
GO
