-- Errors of batches, reported as the server reports them: "Msg N, Level L, State S, Line n"
-- and the text. None of them ends the host; with -b the first one would.

-- A syntax error stops the whole batch before it runs: nothing is printed here but the error,
-- which gives the line in the batch and the column.
PRINT 'never printed'
SELECT 1 +
FROM nowhere
GO
SELECT 'missing quote
GO
/* unclosed comment
GO
SELECT 1 2 3
GO
EXEC
GO
WHILE 1 = 1 PRINT 'no WHILE in this subset'
GO
PRINT 'a' ~ 'b'
GO

-- Variables must be declared before use and only once; types must exist and fit.
SELECT @undeclared
GO
DECLARE @x int, @x varchar(3)
GO
DECLARE @y varchar(9000)
GO
DECLARE @y decimal(40, 2)
GO
DECLARE @y nosuchtype
GO
DECLARE @y int(4)
GO

-- Unknown procedures and functions; OUTPUT on a constant; positional after named.
EXEC xp_NoSuchProcedure 1
EXEC xp_fileexists 'c:\'
PRINT 'the batch goes on after an unknown procedure'
GO
SELECT NOSUCHFUNCTION(1)
GO
SELECT LEN('a', 'b')
GO
EXEC xp_FileExists 'x' OUTPUT
GO
DECLARE @p int
EXEC xp_FileExists @p = 1, 2
GO
DECLARE @p int
SELECT @p = 1, 2
GO

-- Conversion errors: a failed conversion from text ends the batch; overflow and refused
-- conversions end the statement.
SELECT CAST('abc' AS int) AS never
PRINT 'not reached: the batch ended'
GO
SELECT CAST(300 AS tinyint)
SELECT 2147483647 + 1
SELECT CAST(1 AS uniqueidentifier)
DECLARE @g uniqueidentifier = 1
SELECT CAST(0x01 AS float)
DECLARE @v varchar(10) = 0x41
SELECT 'a' + CAST(1 AS uniqueidentifier)
SELECT CAST('2021-02-29' AS datetime)
SELECT CAST('x' AS float)
SELECT CAST('x' AS money)
SELECT CAST('not a date' AS datetime)
PRINT 'not reached either'
GO
SELECT CONVERT(varchar(10), CAST('2020-01-01' AS datetime), 999)
SELECT 'a' - 'b'
SELECT -'a'
SELECT CAST(1 AS bit) + CAST(1 AS bit)
SELECT 1e308 + 1e308
PRINT 'the batch went on'
GO
