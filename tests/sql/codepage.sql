-- 8-bit text outside ASCII through the procedures. varchar values reach the module in the
-- server's ANSI code page and come back in it: UTF-8 on Linux, 1252 on a Western Windows
-- server, 932 (double-byte) on a Japanese one. Each group passes Latin text (é, €: in 1252,
-- not in 932) and Japanese text (データ: in 932, not in 1252); on the way in, what a code page
-- lacks becomes its nearest letter (é is e in 932) or '?'. The expected output of each code
-- page is its own file.

-- File names: a file made through an 8-bit name is found through the same name as 16-bit
-- text only where the code page holds its characters ('?' is a wildcard, no name holds it).
DECLARE @status int, @latin int, @japanese int
EXEC @status = xp_FileAppendLine 'c:\cp\café.txt', 'x'
SELECT @status AS LatinAppended
EXEC @status = xp_FileAppendLine 'c:\cp\データ.txt', 'x'
SELECT @status AS JapaneseAppended
EXEC @latin = xp_FileExists N'c:\cp\café.txt'
EXEC @japanese = xp_FileExists N'c:\cp\データ.txt'
SELECT @latin AS LatinFound, @japanese AS JapaneseFound
GO

-- INI sections, keys and values as 8-bit text, read back into varchar and nvarchar.
DECLARE @narrow varchar(40), @wide nvarchar(40)
EXEC xp_IniWriteKey 'c:\cp\app.ini', 'Größe', 'Schlüssel', 'Wert € é'
EXEC xp_IniReadKey 'c:\cp\app.ini', 'Größe', 'Schlüssel', 'none', @narrow OUTPUT
EXEC xp_IniReadKey 'c:\cp\app.ini', 'Größe', 'Schlüssel', 'none', @wide OUTPUT
SELECT @narrow AS LatinNarrow, @wide AS LatinWide
EXEC xp_IniWriteKey 'c:\cp\app.ini', '設定', 'キー', '値ソ'
EXEC xp_IniReadKey 'c:\cp\app.ini', '設定', 'キー', 'none', @narrow OUTPUT
EXEC xp_IniReadKey 'c:\cp\app.ini', '設定', 'キー', 'none', @wide OUTPUT
SELECT @narrow AS JapaneseNarrow, @wide AS JapaneseWide
GO

-- Formatted text: 8-bit arguments and formats widened through the code page.
DECLARE @narrow varchar(40), @wide nvarchar(40)
EXEC xp_FormatStr @narrow OUTPUT, '%s|%s|%5s|', 'é€', 'データ', 'ü'
EXEC xp_FormatStr @wide OUTPUT, '%s|%s|%5s|', 'é€', 'データ', 'ü'
SELECT @narrow AS Narrow, @wide AS Wide
GO

-- Hashed and encrypted passwords: the bytes of the 8-bit text are hashed, so the digest of
-- the same letters differs between code pages; 16-bit text is converted to the code page
-- first, so N'...' gives the same key as '...' wherever the code page holds the letters.
DECLARE @latin varchar(40), @japanese varchar(40), @cipher varbinary(64), @wcipher varbinary(64),
        @plain varbinary(64)
EXEC xp_sha_quick 'é€', @latin OUTPUT
EXEC xp_sha_quick 'データ', @japanese OUTPUT
SELECT @latin AS LatinDigest, @japanese AS JapaneseDigest
EXEC xp_symmetric_quick_encode 'RC4', 'pässwörd', 0x0102030405, @cipher OUTPUT
EXEC xp_symmetric_quick_encode 'RC4', N'pässwörd', 0x0102030405, @wcipher OUTPUT
EXEC xp_symmetric_quick_decode 'RC4', 'pässwörd', @cipher, @plain OUTPUT
SELECT @cipher AS LatinCipher, @wcipher AS WideKeyCipher, @plain AS Plain
EXEC xp_symmetric_quick_encode 'RC4', 'パスワード', 0x0102030405, @cipher OUTPUT
EXEC xp_symmetric_quick_encode 'RC4', N'パスワード', 0x0102030405, @wcipher OUTPUT
SELECT @cipher AS JapaneseCipher, @wcipher AS WideKeyCipher
GO

-- Text cut to an OUTPUT parameter's length ends between two characters of the code page:
-- in 1252 the bytes 0x80-0xBF are characters of their own (€ is 0x80), in 932 a character
-- may take two bytes (ア is 0x83 0x41) and in UTF-8 up to four.
DECLARE @three varchar(3), @two varchar(2), @ini varchar(3)
EXEC xp_FormatStr @three OUTPUT, N'abc%s', N'€'
EXEC xp_FormatStr @two OUTPUT, N'a%s', N'アイ'
SELECT @three AS Three, DATALENGTH(@three) AS ThreeBytes, @two AS Two,
       DATALENGTH(@two) AS TwoBytes
EXEC xp_IniWriteKey 'c:\cp\cut.ini', 'cut', 'latin', 'ab€é'
EXEC xp_IniReadKey 'c:\cp\cut.ini', 'cut', 'latin', '', @ini OUTPUT
SELECT @ini AS Latin, DATALENGTH(@ini) AS LatinBytes
EXEC xp_IniWriteKey 'c:\cp\cut.ini', 'cut', 'japanese', 'aアイ'
EXEC xp_IniReadKey 'c:\cp\cut.ini', 'cut', 'japanese', '', @ini OUTPUT
SELECT @ini AS Japanese, DATALENGTH(@ini) AS JapaneseBytes
GO
