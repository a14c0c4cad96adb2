-- Values in the host: literals and their types, CAST and CONVERT, + and the string
-- functions, and how sqlcmd shows each type (right-aligned numbers, NULL, 0x for binary).

-- Literals as SQL Server types them, and how each type is shown.
SELECT 42 AS int_, 4.5 AS numeric_, 0.5 AS below_one, 1e3 AS float_, 0x0A0B AS varbinary_,
       $1.25 AS money_, NULL AS null_, 'abc' AS varchar_, N'жё' AS nvarchar_
SELECT 2147483647 AS biggest_int, 2147483648 AS numeric_10, -2147483648 AS negated,
       123456789012345678901234567890.12345678 AS numeric_38
GO

-- Declared variables of every type.
DECLARE @i int = 1, @s smallint = -2, @t tinyint = 255, @b bigint = 9223372036854775807,
        @bit bit = 5, @f float = 0.1, @r real = 1.1, @d decimal(10,2) = 3.14159,
        @n numeric(5,0) = -7.5, @m money = -0.25, @sm smallmoney = 214748.3647
SELECT @i AS i, @s AS s, @t AS t, @b AS b, @bit AS bit, @f AS f, @r AS r, @d AS d, @n AS n,
       @m AS m, @sm AS sm
DECLARE @dt datetime = '2024-02-29T13:45:30.123', @sdt smalldatetime = '2024-02-29 13:45:30',
        @c char(5) = 'ab', @vc varchar(8) = 'trimmed to eight', @nc nchar(3) = N'é',
        @bin binary(4) = 0x0102, @g uniqueidentifier = '{0f8fad5b-d9cb-469f-a165-70867728950e}'
SELECT @dt AS dt, @sdt AS sdt, @c + '|' AS c, @vc AS vc, @nc + N'|' AS nc, @bin AS bin, @g AS g
GO

-- (max) columns are 256 characters wide, as sqlcmd's -y default makes them.
DECLARE @nvc nvarchar(max) = N'αβγ', @vb varbinary(max) = 0x
SELECT @nvc AS nvc, @vb AS vb
GO

-- CAST and CONVERT with styles.
DECLARE @when datetime = '2021-07-04 18:05:09.997'
SELECT CONVERT(varchar(30), @when) AS style_0, CONVERT(varchar(10), @when, 101) AS us,
       CONVERT(varchar(10), @when, 104) AS german, CONVERT(char(8), @when, 112) AS iso,
       CONVERT(varchar(23), @when, 121) AS odbc, CONVERT(varchar(30), @when, 126) AS iso8601
SELECT CAST(1234567.0e0 AS varchar(20)) AS float_style_0,
       CONVERT(varchar(30), 1234567.0e0, 2) AS float_style_2,
       CAST($1234.5678 AS varchar(20)) AS money_style_0,
       CONVERT(varchar(20), $1234.5678, 1) AS money_style_1,
       CONVERT(varchar(10), 0xCAFE, 1) AS hex_1, CONVERT(varchar(10), 0xCAFE, 2) AS hex_2,
       CONVERT(varbinary(4), '0x41', 1) AS from_hex, CAST('AB' AS varbinary(4)) AS bytes
SELECT CAST(12345 AS varchar(3)) AS int_too_long, CAST(2.5 AS int) AS truncated,
       CAST(2.5 AS decimal(1,0)) AS rounded, CAST('2.5' AS float) AS from_text,
       CAST(1.5 AS datetime) AS from_days, CAST(CAST('1900-01-02 12:00' AS datetime) AS float) AS to_days,
       CAST(0xFF19966F868B11D0B42D00C04FC964FF AS uniqueidentifier) AS guid_from_bytes
GO

-- + concatenates text and binary values (without a (max) operand up to 8000 bytes, as the
-- server does) and adds numbers in the type of higher precedence.
DECLARE @a varchar(5) = 'ab', @w nvarchar(5) = N'cd'
SELECT @a + 'c' AS text_, @a + @w AS mixed, 0x01 + 0x0203 AS binary_, 1 + 2 AS int_,
       1 + 2.50 AS numeric_, 1.5 + 1e0 AS float_, $1 + 1 AS money_, '1' + 1 AS text_to_int,
       CAST('2020-01-01' AS datetime) + 1 AS next_day, 10 - 3 AS minus, -(-5) AS negate,
       NULL + 1 AS null_plus
SELECT LEN(REPLICATE('x', 9000)) AS capped_at_8000,
       LEN(REPLICATE(CAST('x' AS varchar(max)), 9000)) AS max_not_capped,
       LEN(REPLICATE(N'y', 5000)) AS nvarchar_capped,
       DATALENGTH(REPLICATE(N'y', 5000)) AS its_bytes,
       LEN('trailing   ') AS len_skips_blanks, DATALENGTH('trailing   ') AS datalength_counts,
       LEN(12345) AS len_of_int, DATALENGTH(12345) AS int_bytes, DATALENGTH(1.5) AS numeric_bytes,
       LEN(NULL) AS len_null
-- REPLICATE gives varchar(8000) or nvarchar(4000), so sqlcmd makes its columns that wide:
-- CAST narrows them.
SELECT CAST(REPLICATE('=', 12) AS varchar(12)) AS rule_,
       CAST(REPLICATE(N'é', 3) AS nvarchar(3)) AS accents,
       CAST(REPLICATE('ab', -1) AS varchar(4)) AS negative_count, LEN(N'ж😀') AS units
GO

-- SET, SET +=, SELECT @v = and PRINT.
DECLARE @x int = 1, @text varchar(20) = 'a'
SET @x = @x + 41
SET @text += 'b'
SELECT @text = @text + 'c'
SELECT @x AS x, @text AS text_
PRINT 'printed: ' + @text
PRINT 42
PRINT CAST('2020-01-01' AS datetime)
PRINT NULL
PRINT N'wide ж'
GO

-- NOCOUNT hides "(N rows affected)" until it is set OFF again; GO 2 runs a batch twice.
SET NOCOUNT ON
SELECT 'quiet' AS q
SET NOCOUNT OFF
GO
SELECT 'twice' AS t
GO 2
/* A block comment /* that nests */ and ends here */ SELECT 'after comments' AS c -- trailing
GO

-- money's minimum is a money value, as its maximum is; one unit less overflows.
SELECT CAST(-922337203685477.5808 AS money) AS money_min, CAST('-922337203685477.5808' AS money) AS from_text
SELECT CAST(-922337203685477.5809 AS money) AS below
GO

-- A failed initializer ends the statement but leaves every variable of it declared (and NULL
-- where no value was assigned).
DECLARE @a int = 1, @b money = 1e300, @c int = 3
SELECT @a AS a, @b AS b, @c AS c
GO
