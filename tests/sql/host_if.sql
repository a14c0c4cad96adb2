-- IF and ELSE with BEGIN ... END blocks; conditions in three-valued logic.
-- What ODBC drivers send before TDS 7.2 to end a transaction.
BEGIN TRANSACTION
IF @@TRANCOUNT > 0 COMMIT BEGIN TRANSACTION
SELECT @@TRANCOUNT AS after_commit
IF @@TRANCOUNT > 0 ROLLBACK
SELECT @@TRANCOUNT AS after_rollback
IF @@TRANCOUNT > 0 ROLLBACK
GO
-- NULL makes a comparison unknown: neither it nor its NOT holds.
DECLARE @n int, @s nvarchar(10) = N'abc  '
IF @n IS NULL PRINT 'is null' ELSE PRINT 'wrong'
IF @n = 1 PRINT 'wrong' ELSE PRINT 'unknown goes to ELSE'
IF NOT (@n = 1) PRINT 'wrong' ELSE PRINT 'NOT unknown goes to ELSE'
IF @n = 1 OR 1 = 1 PRINT 'true OR unknown holds'
IF @s = 'ABC' AND (2.5 >= 2 OR @n = 1)
BEGIN
  PRINT 'case and trailing spaces ignored'
  SELECT 1 AS one
END
ELSE IF 1 = 1 PRINT 'wrong'
IF 0x01 < 0x02 AND CAST('2001-01-01' AS datetime) > '2000-01-01' PRINT 'bytes and dates'
IF 1 !< 2 PRINT 'wrong' ELSE PRINT '!< is >='
SET ANSI_NULLS OFF
IF @n = NULL PRINT 'ANSI_NULLS OFF: NULL = NULL'
SET ANSI_NULLS ON
GO
-- A conversion error in a condition ends the batch.
IF 'x' = 1 PRINT 'wrong'
PRINT 'not reached'
GO
-- ODBC drivers ask for the types' limits; unknown codes give no rows.
EXEC sp_datatype_info_100 -3, 3
EXEC sp_datatype_info_90 9999, 3
EXEC sp_datatype_info_100 'x'
GO
