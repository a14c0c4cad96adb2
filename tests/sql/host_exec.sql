-- EXEC in the host: parameters as the server passes them, OUTPUT values, return statuses,
-- result sets and messages of a procedure, and sp_addextendedproc / sp_dropextendedproc.
-- The procedures of ./hosttest.so are the host's test procedures.
EXEC sp_addextendedproc 'xp_hosttest_write', './hosttest.so'
EXEC sp_addextendedproc @functname = 'xp_hosttest_rows', @dllname = './hosttest.so'
EXEC sp_addextendedproc 'xp_hosttest_messages', './hosttest.so'
EXEC sp_helpextendedproc 'xp_hosttest_rows'
GO

-- Literals are typed as the server types them: the trace shows each parameter's type code,
-- maximum length and bytes. The NULL constant is a NULL int.
DECLARE @out varbinary(max)
EXEC xp_hosttest_write @out OUTPUT, 42
EXEC xp_hosttest_write @out OUTPUT, 4.5
EXEC xp_hosttest_write @out OUTPUT, -1e3
EXEC xp_hosttest_write @out OUTPUT, $1.25
EXEC xp_hosttest_write @out OUTPUT, 0x0A0B
EXEC xp_hosttest_write @out OUTPUT, 'abc'
EXEC xp_hosttest_write @out OUTPUT, N'abc'
EXEC xp_hosttest_write @out OUTPUT, NULL
EXEC xp_hosttest_write @out OUTPUT, 3000000000
EXEC xp_hosttest_write @out OUTPUT, -2147483648
GO

-- Variables pass their declared type and length; a NULL of a fixed-length type takes the
-- nullable form of its type.
DECLARE @out varbinary(max)
DECLARE @tiny tinyint = 7, @small smallint = -2, @big bigint = 5000000000, @bit bit = 1
EXEC xp_hosttest_write @out OUTPUT, @tiny
EXEC xp_hosttest_write @out OUTPUT, @small
EXEC xp_hosttest_write @out OUTPUT, @big
EXEC xp_hosttest_write @out OUTPUT, @bit
DECLARE @real real = 1.5, @money smallmoney = 2, @dec decimal(10,2) = 12.34
EXEC xp_hosttest_write @out OUTPUT, @real
EXEC xp_hosttest_write @out OUTPUT, @money
EXEC xp_hosttest_write @out OUTPUT, @dec
DECLARE @when datetime = '1900-01-02 12:00', @minute smalldatetime = '1900-01-02 00:01'
EXEC xp_hosttest_write @out OUTPUT, @when
EXEC xp_hosttest_write @out OUTPUT, @minute
DECLARE @c char(4) = 'ab', @nc nchar(3) = N'x', @vb varbinary(10) = 0x01, @b binary(3) = 0x01
EXEC xp_hosttest_write @out OUTPUT, @c
EXEC xp_hosttest_write @out OUTPUT, @nc
EXEC xp_hosttest_write @out OUTPUT, @vb
EXEC xp_hosttest_write @out OUTPUT, @b
DECLARE @g uniqueidentifier = '6F9619FF-8B86-D011-B42D-00C04FC964FF', @text text = 'long',
        @ntext ntext = N'long', @image image = 0xFF
EXEC xp_hosttest_write @out OUTPUT, @g
EXEC xp_hosttest_write @out OUTPUT, @text
EXEC xp_hosttest_write @out OUTPUT, @ntext
EXEC xp_hosttest_write @out OUTPUT, @image
DECLARE @nint int, @nbit bit, @nfloat float, @nreal real, @nmoney money, @ndate datetime
EXEC xp_hosttest_write @out OUTPUT, @nint
EXEC xp_hosttest_write @out OUTPUT, @nbit
EXEC xp_hosttest_write @out OUTPUT, @nfloat
EXEC xp_hosttest_write @out OUTPUT, @nreal
EXEC xp_hosttest_write @out OUTPUT, @nmoney
EXEC xp_hosttest_write @out OUTPUT, @ndate
GO

-- OUTPUT values come back after the call in the variable's type, cut to its declared size as
-- the server cuts them; a value whose length does not fit the type is refused.
DECLARE @v5 varchar(5) = '', @n3 nvarchar(3) = N'', @c4 char(4) = 'zz', @i int = 0,
        @tiny tinyint = 0, @rc int
EXEC @rc = xp_hosttest_write @v5 OUTPUT, 'abcdefgh'
EXEC xp_hosttest_write @n3 OUTPUT, N'uvwxyz'
EXEC xp_hosttest_write @c4 OUTPUT, 'a'
EXEC xp_hosttest_write @i OUTPUT, 0x2A000000
EXEC xp_hosttest_write @tiny OUTPUT, 0x0500
SELECT @rc AS Written, @v5 AS v5, @n3 AS n3, @c4 + '|' AS c4, @i AS i, @tiny AS tiny
EXEC xp_hosttest_write @i OUTPUT, 0x010203
EXEC xp_hosttest_write @n3 OUTPUT, 0x41
SELECT @i AS i, @n3 AS n3
GO

-- A NULL comes back as NULL; a variable passed without OUTPUT keeps its value; named
-- parameters are passed with their names.
DECLARE @keep varchar(10) = 'kept', @gone varchar(10) = 'gone', @none varbinary(1)
EXEC xp_hosttest_write @keep, 'changed'
EXEC xp_hosttest_write @gone OUTPUT, @none
EXEC xp_hosttest_write @target = @keep OUTPUT, @bytes = 'named'
SELECT @keep AS keep, @gone AS gone
GO

-- Result sets: every column type, a row of NULLs, an unnamed column, and the counted DONE.
-- A captured return status is shown only when selected.
DECLARE @rc int
EXEC @rc = xp_hosttest_rows
SELECT @rc AS rc
GO

-- Messages: informational text as it is, an error with its number, level, state and line; an
-- empty result set still shows its header.
EXEC xp_hosttest_messages
GO

-- EXEC may be left out for the first statement of a batch; the procedure name may carry a
-- database and schema.
xp_hosttest_write
EXEC master.dbo.xp_hosttest_write
EXEC master..xp_hosttest_write
GO

-- A procedure that lets an exception out fails its statement; the batch goes on.
EXEC sp_addextendedproc 'xp_hosttest_throw', './hosttest.so'
GO
EXEC xp_hosttest_throw
PRINT 'still here'
GO

-- Dropped procedures are gone; adding a name twice, a missing module or a missing function
-- are refused.
EXEC sp_dropextendedproc 'xp_hosttest_rows'
EXEC xp_hosttest_rows
EXEC sp_addextendedproc 'xp_hosttest_write', './hosttest.so'
EXEC sp_addextendedproc 'xp_nothing', './nothing.so'
EXEC sp_addextendedproc 'xp_nothing', './hosttest.so'
EXEC sp_addextendedproc 'xp_nothing'
EXEC sp_dropextendedproc 'xp_hosttest_rows'
EXEC sp_dropextendedproc 'a', 'b'
EXEC sp_dropextendedproc @name = 'a'
GO
