-- What client drivers send on their own, at connect and around their calls: the session's
-- SET options, USE, transactions and the probes of the server and the session.
-- tedious's batch at connect: no output at all.
set ansi_nulls on
set ansi_null_dflt_on on
set ansi_padding on
set ansi_warnings on
set arithabort on
set concat_null_yields_null on
set datefirst 7
set dateformat mdy
set implicit_transactions off
set numeric_roundabort off
set quoted_identifier on
set textsize 2147483647
set transaction isolation level read committed
set xact_abort off
GO

-- Several switches at once; the other options the drivers set; SET LANGUAGE says it.
SET ANSI_NULLS, ANSI_PADDING, ANSI_WARNINGS ON
SET CURSOR_CLOSE_ON_COMMIT OFF
SET LOCK_TIMEOUT -1
SET DEADLOCK_PRIORITY NORMAL
SET DEADLOCK_PRIORITY -3
SET TRANSACTION ISOLATION LEVEL REPEATABLE READ
SET TRANSACTION ISOLATION LEVEL SNAPSHOT
SET LANGUAGE us_english
SET LANGUAGE 'English'
GO

-- Values the engine does not take end the statement with an error.
SET DATEFIRST 8
SET DATEFORMAT dmy
SET LANGUAGE Deutsch
GO
SET DEADLOCK_PRIORITY 11
GO
SET TRANSACTION ISOLATION LEVEL READ SOMETHING
GO
SET NO_SUCH_OPTION ON
GO

-- master is the only database.
USE master
USE [master]
GO
USE tempdb
GO

-- Transactions nest in @@TRANCOUNT; there is nothing to commit or roll back.
SELECT @@TRANCOUNT AS before
BEGIN TRAN
BEGIN TRANSACTION named
SELECT @@TRANCOUNT AS nested
COMMIT TRANSACTION
SELECT @@TRANCOUNT AS committed
ROLLBACK
SELECT @@TRANCOUNT AS rolled_back
COMMIT
ROLLBACK WORK
GO
-- They outlive the batch, as in the server.
BEGIN TRAN
GO
SELECT @@TRANCOUNT AS next_batch
COMMIT
GO

-- The probes: the session id counts from 51.
SELECT @@SPID AS spid, @@SERVERNAME AS server, @@LANGUAGE AS language, DB_NAME() AS db,
       SCHEMA_NAME() AS [schema], SUSER_SNAME() AS login
SELECT @@VERSION AS version
SELECT SERVERPROPERTY('ProductVersion') AS version, SERVERPROPERTY('ProductLevel') AS level,
       SERVERPROPERTY('Edition') AS edition, SERVERPROPERTY('EngineEdition') AS engine,
       SERVERPROPERTY('ServerName') AS name, SERVERPROPERTY('NoSuchProperty') AS unknown
SELECT 1
SELECT CAST(SERVERPROPERTY('ProductVersion') AS varchar(20)) AS v
GO
SELECT @@NOSUCHTHING
GO

-- The options with an effect on what the subset computes.
SET CONCAT_NULL_YIELDS_NULL OFF
SELECT 'a' + NULL AS concat_off, N'b' + CAST(NULL AS nvarchar(3)) AS wide
SET CONCAT_NULL_YIELDS_NULL ON
SELECT 'a' + NULL AS concat_on
SET TEXTSIZE 4
SELECT CAST('abcdef' AS varchar(max)) AS max_cut, CAST(N'abcdef' AS ntext) AS ntext_cut,
       'abcdef' AS not_cut
SET TEXTSIZE 0
GO
SET XACT_ABORT ON
BEGIN TRAN
SELECT CAST(2147483647 AS smallint)
PRINT 'not reached: the error ended the batch and its transaction'
GO
SELECT @@TRANCOUNT AS after_abort
SET XACT_ABORT OFF
SET NOCOUNT ON
SELECT 1 AS no_count
GO
