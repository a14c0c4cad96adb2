-- xp_GetAddrByHost, xp_GetHostByAddr and xp_Ping. Every echo goes to 127.0.0.1 or to no one
-- (address 0 sends nothing); every name is answered by /etc/hosts, by the name cache, or is
-- refused before any resolver is asked. Under Wine, whose resolver knows nothing of the
-- reserved names, the case runs in a network of its own that has loopback only. Round-trip
-- times vary from run to run: they are masked (tests/sql/net.mask), so only the number of
-- echoes, the replying address, the TTL and the statistics that do not depend on time are
-- compared.

-- Names: 'localhost' comes from /etc/hosts and is cached; the same name in other letter case
-- is answered by the cache. Dotted quads are read by inet_addr without a resolver: a leading
-- 0 is octal, 0x hexadecimal; 255.255.255.255 comes back as it is.
DECLARE @address varchar(15), @status int
EXEC @status = xp_GetAddrByHost 'localhost', @address OUTPUT
SELECT @status AS Status, @address AS Address
EXEC @status = xp_GetAddrByHost N'LocalHost', @address OUTPUT
SELECT @status AS Status, @address AS Address
EXEC @status = xp_GetAddrByHost '010.0.0.1', @address OUTPUT
SELECT @status AS Status, @address AS Address
EXEC @status = xp_GetAddrByHost '0x7f.0.0.1', @address OUTPUT
SELECT @status AS Status, @address AS Address
EXEC @status = xp_GetAddrByHost '255.255.255.255', @address OUTPUT
SELECT @status AS Status, @address AS Address
GO

-- A name longer than any host name (255 characters) is asked of no resolver: it cannot be
-- resolved, which is no failure: 0.0.0.0 with status 1.
DECLARE @address varchar(15), @status int, @long varchar(300) = REPLICATE('a', 256)
EXEC @status = xp_GetAddrByHost @long, @address OUTPUT
SELECT @status AS Status, @address AS Address
GO

-- The parameter list: two text parameters, the second one OUTPUT to be seen.
DECLARE @address varchar(15) = 'unchanged', @n int, @status int
EXEC @status = xp_GetAddrByHost 'localhost'
SELECT @status AS Status
EXEC @status = xp_GetAddrByHost 'localhost', @n OUTPUT
SELECT @status AS Status, @n AS N
EXEC @status = xp_GetAddrByHost 127, @address OUTPUT
SELECT @status AS Status, @address AS Address
GO

-- Addresses: 127.0.0.1 was cached by the forward lookup above, so its name is the one the
-- caller first gave, lower case. Text that inet_addr does not read as an address (a host name,
-- the empty text, NULL, and 255.255.255.255, which reads as INADDR_NONE) gives NULL with
-- status 0; the output parameter is set to NULL.
DECLARE @name varchar(100) = 'before', @status int
EXEC @status = xp_GetHostByAddr '127.0.0.1', @name OUTPUT
SELECT @status AS Status, @name AS Name
SET @name = 'before'
EXEC @status = xp_GetHostByAddr '255.255.255.255', @name OUTPUT
SELECT @status AS Status, @name AS Name
SET @name = 'before'
EXEC @status = xp_GetHostByAddr 'localhost', @name OUTPUT
SELECT @status AS Status, @name AS Name
SET @name = 'before'
EXEC @status = xp_GetHostByAddr '', @name OUTPUT
SELECT @status AS Status, @name AS Name
DECLARE @none varchar(15)
SET @name = 'before'
EXEC @status = xp_GetHostByAddr @none, @name OUTPUT
SELECT @status AS Status, @name AS Name
GO

-- xp_GetHostByAddr reports a bad parameter list with an error message of its own
-- (50000, severity 11, state 1), not logged and without the address suffix.
DECLARE @name varchar(100) = 'unchanged', @n int, @status int
EXEC @status = xp_GetHostByAddr '127.0.0.1'
SELECT @status AS Status
EXEC @status = xp_GetHostByAddr '127.0.0.1', @n OUTPUT
SELECT @status AS Status, @n AS N
EXEC @status = xp_GetHostByAddr 2130706433, @name OUTPUT
SELECT @status AS Status, @name AS Name
GO

-- Three echoes to 127.0.0.1 with a time limit of 1000 ms: three answered rows, nothing lost.
DECLARE @status int, @lost int = -1, @percent int = -1
EXEC @status = xp_Ping '127.0.0.1', 1000, 3, @LostPackets = @lost OUTPUT,
     @PercentLost = @percent OUTPUT
SELECT @status AS Status, @lost AS LostPackets, @percent AS PercentLost
GO

-- Address 0 sends nothing: every echo times out at once, with NULL time and TTL, and the
-- six statistics say so. The output parameters are found by name in any letter case and at
-- any position.
DECLARE @status int, @min int = -1, @max int = -1, @avg int = -1, @total int = -1,
        @lost int = -1, @percent int = -1
EXEC @status = xp_Ping '0.0.0.0', 1000, 2, @mintime = @min OUTPUT, @MaxTime = @max OUTPUT,
     @AVGTIME = @avg OUTPUT, @TotalTime = @total OUTPUT, @LostPackets = @lost OUTPUT,
     @PercentLost = @percent OUTPUT
SELECT @status AS Status, @min AS MinTime, @max AS MaxTime, @avg AS AvgTime,
       @total AS TotalTime, @lost AS LostPackets, @percent AS PercentLost
GO

-- A host that cannot be resolved is pinged at address 0: the empty text and NULL (asked of
-- no resolver), and a name longer than any host name. The default is four echoes; an echo
-- count of -1 asks for it too. An output parameter of another kind than int is left alone.
DECLARE @status int, @lost int = -1, @text varchar(10) = 'untouched'
EXEC @status = xp_Ping '', -1, -1, @LostPackets = @lost OUTPUT, @PercentLost = @text OUTPUT
SELECT @status AS Status, @lost AS LostPackets, @text AS PercentLost
DECLARE @none varchar(10), @long varchar(300) = REPLICATE('a', 256)
EXEC @status = xp_Ping @none, 1000, 1, @LostPackets = @lost OUTPUT
SELECT @status AS Status, @lost AS LostPackets
EXEC @status = xp_Ping @long, 1000, 1, @LostPackets = @lost OUTPUT
SELECT @status AS Status, @lost AS LostPackets
GO

-- A name under the reserved domain "invalid" exists nowhere: it is answered at once without
-- asking a name server and nothing is sent, so both echoes time out at once, whatever the
-- time limit.
DECLARE @status int, @lost int = -1, @percent int = -1
EXEC @status = xp_Ping 'no-such-host.invalid', 100, 2, @LostPackets = @lost OUTPUT,
     @PercentLost = @percent OUTPUT
SELECT @status AS Status, @lost AS LostPackets, @percent AS PercentLost
GO

-- Failures, each before any row and before any echo: an echo count of 0 or below -1, a time
-- limit below -1, a first parameter that is not text, no parameter at all. The output
-- parameters go back as they came.
DECLARE @status int, @lost int = -1
EXEC @status = xp_Ping '127.0.0.1', 1000, 0, @LostPackets = @lost OUTPUT
SELECT @status AS Status, @lost AS LostPackets
EXEC @status = xp_Ping '127.0.0.1', 1000, -2
SELECT @status AS Status
EXEC @status = xp_Ping '127.0.0.1', -2, 1
SELECT @status AS Status
EXEC @status = xp_Ping 2130706433
SELECT @status AS Status
EXEC @status = xp_Ping
SELECT @status AS Status
GO

-- Texts that look like dotted quads but are no valid address ('127.0.0.08' has an 8 among
-- octal digits; spaces inside the quad, a sign, a '$' field) are not found: 0.0.0.0, never the
-- broadcast address 255.255.255.255. A quad that spells 255.255.255.255 is still that address.
DECLARE @a varchar(20), @b varchar(20), @c varchar(20), @d varchar(20), @e varchar(20)
EXEC xp_GetAddrByHost '127.0.0.08', @a OUTPUT
EXEC xp_GetAddrByHost '127. 0. 0. 1', @b OUTPUT
EXEC xp_GetAddrByHost '+127.0.0.1', @c OUTPUT
EXEC xp_GetAddrByHost '$7f.0.0.1', @d OUTPUT
EXEC xp_GetAddrByHost '0xff.0xff.0xff.0xff', @e OUTPUT
SELECT @a AS Octal8, @b AS Spaced, @c AS Signed, @d AS Dollar, @e AS Broadcast
GO

-- A host name or address holding a NUL is refused: cut there it would name another host.
DECLARE @cut varchar(30) = '127.0.0.1' + CAST(0x00 AS varchar(1)) + '.example', @out varchar(30)
EXEC xp_GetAddrByHost @cut, @out OUTPUT
EXEC xp_GetHostByAddr @cut, @out OUTPUT
GO
