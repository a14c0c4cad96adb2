-- xp_FormatStr: formats its arguments by a format string and returns the text through its
-- first parameter, passed as OUTPUT. The host runs in the C locale, which stands for en-US:
-- point decimals, comma grouping, the symbol $ with two decimals, negative amounts in
-- parentheses.

-- Text and integers: width, left alignment, minimum digits; a leading 0 is a plain width.
DECLARE @a nvarchar(30), @b nvarchar(30), @c nvarchar(30), @d nvarchar(30), @status int
EXEC @status = xp_FormatStr @a OUTPUT, 'Name: %s, Qty: %5d', 'Bolt', 42
EXEC xp_FormatStr @b OUTPUT, '%-5d|', 42
EXEC xp_FormatStr @c OUTPUT, '%.5d', -42
EXEC xp_FormatStr @d OUTPUT, '%05d', 42
SELECT @status AS Status, @a AS NameQty, @b AS LeftAligned, @c AS Digits, @d AS NoZeroFill
GO
DECLARE @a nvarchar(12), @b nvarchar(12), @c nvarchar(12), @d nvarchar(20)
DECLARE @least int = -2147483648
EXEC xp_FormatStr @a OUTPUT, '%x', 255
EXEC xp_FormatStr @b OUTPUT, '%u', -1
EXEC xp_FormatStr @c OUTPUT, '%.3x', 10
EXEC xp_FormatStr @d OUTPUT, '%X|%d', -1, @least
SELECT @a AS Hex, @b AS Unsigned, @c AS HexDigits, @d AS Extremes
GO

-- Floats: fixed (two decimals by default), exponent, general and number notation.
DECLARE @a nvarchar(25), @b nvarchar(25), @c nvarchar(25), @d nvarchar(25)
EXEC xp_FormatStr @a OUTPUT, '%.2f', 3.14159
EXEC xp_FormatStr @b OUTPUT, '%f', 3.14159e0
EXEC xp_FormatStr @c OUTPUT, '%e', 1234.5e0
EXEC xp_FormatStr @d OUTPUT, '%g', 1234.5
SELECT @a AS Fixed2, @b AS FixedDefault, @c AS Exponent, @d AS General
EXEC xp_FormatStr @a OUTPUT, '%g', 0.00001e0
EXEC xp_FormatStr @b OUTPUT, '%g', 0.0001e0
EXEC xp_FormatStr @c OUTPUT, '%n', 1234567.891e0
EXEC xp_FormatStr @d OUTPUT, '%.18g', 0.1e0
SELECT @a AS SmallGeneral, @b AS StillFixed, @c AS Number, @d AS EighteenDigits
GO

-- Halves of a float go away from zero; money values are exact with four decimals and their
-- halves go to the even neighbour.
DECLARE @a nvarchar(20), @b nvarchar(20), @c nvarchar(20), @d nvarchar(30)
DECLARE @large money = -922337203685477.5807
EXEC xp_FormatStr @a OUTPUT, '%.0f|%.0f', 2.5e0, -2.5e0
EXEC xp_FormatStr @b OUTPUT, '%.2f|%.2f', $0.125, $0.135
EXEC xp_FormatStr @c OUTPUT, '%.2f', -0.001e0
EXEC xp_FormatStr @d OUTPUT, '%.4f|%g', @large, $0.0001
SELECT @a AS FloatHalves, @b AS MoneyHalves, @c AS NoNegativeZero, @d AS MoneyExact
GO

-- Currency notation in the en-US layouts.
DECLARE @a nvarchar(20), @b nvarchar(20), @c nvarchar(20), @d nvarchar(20)
EXEC xp_FormatStr @a OUTPUT, '%m', 1234.5e0
EXEC xp_FormatStr @b OUTPUT, '%m', -1234.5e0
EXEC xp_FormatStr @c OUTPUT, '%.0m', 1234.5e0
EXEC xp_FormatStr @d OUTPUT, '%.0m', $1234.5
SELECT @a AS Positive, @b AS Negative, @c AS FloatNoDecimals, @d AS MoneyNoDecimals
GO

-- Argument indexes and "*": "*" takes the next argument; a negative width aligns left.
DECLARE @a nvarchar(20), @b nvarchar(20), @c nvarchar(20), @d nvarchar(20)
EXEC xp_FormatStr @a OUTPUT, '%1:s %0:s', 'a', 'b'
EXEC xp_FormatStr @b OUTPUT, '%*d', 6, 42
EXEC xp_FormatStr @c OUTPUT, '%.*f', 3, 2.5e0
EXEC xp_FormatStr @d OUTPUT, '%*d|', -6, 42
SELECT @a AS Indexes, @b AS StarWidth, @c AS StarPrecision, @d AS NegativeWidth
GO

-- Precision cuts text; %% is one %; a "%" or a directive cut off by the end is dropped.
DECLARE @a nvarchar(10), @b nvarchar(10), @c nvarchar(10), @d nvarchar(10)
EXEC xp_FormatStr @a OUTPUT, '%.3s', 'abcdef'
EXEC xp_FormatStr @b OUTPUT, '%%'
EXEC xp_FormatStr @c OUTPUT, 'abc%'
EXEC xp_FormatStr @d OUTPUT, 'abc%5'
SELECT @a AS Cut, @b AS Percent, @c AS TrailingPercent, @d AS Unfinished
GO

-- Every parameter kind: text of both widths, small integers, real, decimal, bigint, money;
-- NULLs give empty text and zeros; datetime and binary values count as the integer 0.
DECLARE @a nvarchar(50), @b nvarchar(20), @c nvarchar(40)
DECLARE @t tinyint = 255, @s smallint = -2, @r real = 1.5, @n numeric(9,3) = 12.345,
        @big bigint = -5000000000, @sm smallmoney = 214748.3647
EXEC xp_FormatStr @a OUTPUT, N'%s|%s|%d|%d|%g|%g|%.0f|%.4m', 'v', N'жё', @t, @s, @r, @n, @big, @sm
DECLARE @none varchar(5), @nothing int, @nomoney money
EXEC xp_FormatStr @b OUTPUT, '[%s][%d][%m]', @none, @nothing, @nomoney
DECLARE @when datetime = '2024-02-29'
EXEC xp_FormatStr @c OUTPUT, '%d|%x|extra arguments are ignored', @when, 0x0102, 'x', 7
SELECT @a AS Kinds, @b AS Nulls, @c AS Others
GO

-- The result comes back whole however long it is, up to the size of the OUTPUT variable;
-- a varchar OUTPUT receives it in the ANSI code page.
-- (LEN does not count trailing blanks: the 7 is at the end of the first result and at the
-- start of the second.)
DECLARE @right nvarchar(max), @left nvarchar(max), @short nvarchar(4000), @narrow varchar(10)
EXEC xp_FormatStr @right OUTPUT, '%20000d', 7
EXEC xp_FormatStr @left OUTPUT, '%-20000d', 7
EXEC xp_FormatStr @short OUTPUT, '%20000d', 7
EXEC xp_FormatStr @narrow OUTPUT, N'%s€', N'é'
SELECT LEN(@right) AS RightLen, DATALENGTH(@right) AS RightBytes, LEN(@left) AS LeftLen,
       DATALENGTH(@left) AS LeftBytes, DATALENGTH(@short) AS ShortBytes, @narrow AS Narrow,
       DATALENGTH(@narrow) AS NarrowBytes
GO

-- Nothing to do: no parameter, or parameter 1 not text. Status 0, no message.
DECLARE @status int, @i int = 5
EXEC @status = xp_FormatStr
SELECT @status AS NoParameters
EXEC @status = xp_FormatStr @i OUTPUT, '%d', 1
SELECT @status AS IntTarget, @i AS Unchanged
GO

-- Failures: status -1 and a report; parameter 1 keeps the value it came with.
DECLARE @out nvarchar(20) = N'kept', @status int
EXEC @status = xp_FormatStr @out OUTPUT
SELECT @status AS OneParameter, @out AS Result
EXEC @status = xp_FormatStr @out OUTPUT, '%d %d', 1
SELECT @status AS MissingArgument, @out AS Result
EXEC @status = xp_FormatStr @out OUTPUT, '%s', 1
SELECT @status AS TextForInt, @out AS Result
DECLARE @yes bit = 1
EXEC @status = xp_FormatStr @out OUTPUT, '%d', @yes
SELECT @status AS BitArgument, @out AS Result
EXEC @status = xp_FormatStr @out OUTPUT, '%s', 0x01
EXEC @status = xp_FormatStr @out OUTPUT, '%0000000000000000000000000000000042q', 1
EXEC @status = xp_FormatStr @out OUTPUT, '%*d', 2147483647, 1
SELECT @status AS HugeWidth, @out AS Result
GO
