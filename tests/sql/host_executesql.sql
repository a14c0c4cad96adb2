-- sp_executesql in a batch, as client drivers use it for every parameterised call: the
-- statement, the declarations of its parameters, then their values by name or in order.
EXEC sp_executesql N'EXEC xp_FileExists @p', N'@p nvarchar(260)', @p = N'c:\data\in.txt'
GO

-- Values in the order declared, or by name in any order; OUTPUT parameters come back; the
-- statement sees only its parameters, not the caller's variables.
DECLARE @found int, @status int, @twice int
EXEC @status = sp_executesql
  N'EXEC @f = xp_FileExists @p; SET @t = @n + @n',
  N'@p nvarchar(260), @f int OUTPUT, @n int, @t int OUTPUT',
  N'c:\data\none.txt', @found OUTPUT, 21, @twice OUTPUT
SELECT @found AS found, @status AS status, @twice AS twice
EXEC sp_executesql N'SELECT @b AS b, @a AS a', N'@a int, @b varchar(5)', @b = 'bee', @a = 1
EXEC sp_executesql N'SELECT 1 AS just_a_statement'
EXEC sp_executesql N'SELECT @found'
GO

-- Values are converted to the declared types, as parameters are.
EXEC sp_executesql N'SELECT @d AS d, @s AS s', N'@d decimal(5,2), @s nchar(3)', 1.005, 'x'
GO

-- What the server refuses: a statement or declaration that is not Unicode text, a value
-- missing, unknown or surplus, a declaration that does not parse.
EXEC sp_executesql 'SELECT 1'
EXEC sp_executesql N'SELECT 1', '@a int', 1
EXEC sp_executesql N'SELECT @a', N'@a int'
EXEC sp_executesql N'SELECT @a', N'@a int', @z = 1
EXEC sp_executesql N'SELECT @a', N'@a int', 1, 2
EXEC sp_executesql N'SELECT @a', N'@a nosuchtype', 1
EXEC sp_executesql N'SELECT @a', N'@a int, @a int', 1, 2
EXEC sp_executesql
PRINT 'each of them ends its own statement'
GO

-- Errors inside the statement are its own; the batch around it goes on.
EXEC sp_executesql N'SELECT CAST(''x'' AS int)'
EXEC sp_executesql N'SELEC 1'
EXEC sp_executesql N'PRINT ''inside''; EXEC sp_executesql N''PRINT ''''nested'''''''
PRINT 'after'
GO
