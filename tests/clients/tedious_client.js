// tedious against `dunmarrow serve`: procedures by RPC with OUTPUT parameters and return status,
// sp_executesql with parameters, TLS, a cancelled request and a connection reset as pools do.
// Usage: node tedious_client.js HOST PORT LOGIN PASSWORD DRIVE_ROOT
// Prints one JSON line per check: {"ok": true|false, "what": "...", "detail": "..."}.
'use strict';

const fs = require('fs');
const path = require('path');
const zlib = require('zlib');
const crypto = require('crypto');
const { Connection, Request, TYPES } = require('tedious');

const [host, port, userName, password, driveRoot] = process.argv.slice(2);

function check(ok, what, detail) {
  console.log(JSON.stringify({ ok: !!ok, what, detail: ok ? '' : String(detail ?? '') }));
}

function equal(got, expected, what) {
  const same = JSON.stringify(got) === JSON.stringify(expected);
  check(same, what, `expected ${JSON.stringify(expected)}, got ${JSON.stringify(got)}`);
}

function connect(options) {
  return new Promise((resolve, reject) => {
    const connection = new Connection({
      server: host,
      authentication: { type: 'default', options: { userName, password } },
      options: { port: Number(port), database: 'master', trustServerCertificate: true,
                 connectTimeout: 15000, requestTimeout: 30000, ...options },
    });
    connection.secured = false;
    connection.messages = [];
    connection.on('secure', () => { connection.secured = true; });
    connection.on('infoMessage', info => connection.messages.push(info.message));
    connection.connect(err => (err ? reject(err) : resolve(connection)));
  });
}

function close(connection) {
  return new Promise(resolve => {
    connection.on('end', resolve);
    connection.close();
  });
}

// Runs a request; resolves with its rows (objects by column name), OUTPUT values, return
// status, row count and error (errors resolve too, so each check can look at them).
function run(connection, how, sql, setUp) {
  return new Promise(resolve => {
    connection.messages = [];
    const result = { rows: [], sets: 0, outputs: {}, status: undefined,
                     messages: connection.messages };
    const request = new Request(sql, (error, rowCount) => {
      result.error = error;
      result.rowCount = rowCount;
      resolve(result);
    });
    request.on('columnMetadata', () => { result.sets += 1; });
    request.on('row', columns => {
      const row = {};
      for (const column of columns) row[column.metadata.colName] = column.value;
      result.rows.push(row);
    });
    request.on('returnValue', (name, value) => { result.outputs[name] = value; });
    request.on('doneProc', (rowCount, more, status) => {
      if (status !== undefined) result.status = status;
    });
    if (setUp) setUp(request);
    connection[how](request);
    result.request = request;
  });
}

const sha1 = text => crypto.createHash('sha1').update(text).digest('hex');

async function procedures(connection, tag) {
  // callProcedure: by name, OUTPUT parameters, return status.
  let r = await run(connection, 'callProcedure', 'xp_sha_quick', request => {
    request.addParameter('source', TYPES.VarChar, 'abc');
    request.addOutputParameter('digest', TYPES.VarChar, null, { length: 40 });
  });
  equal(r.error?.message, undefined, `${tag} xp_sha_quick by RPC succeeds`);
  equal(r.outputs.digest, sha1('abc'), `${tag} xp_sha_quick's OUTPUT parameter`);
  equal(r.status, 1, `${tag} xp_sha_quick's return status`);

  r = await run(connection, 'callProcedure', 'xp_FormatStr', request => {
    request.addOutputParameter('line', TYPES.NVarChar, null, { length: 100 });
    request.addParameter('format', TYPES.VarChar, '%s=%5d|%.2f');
    request.addParameter('name', TYPES.NVarChar, 'größe');
    request.addParameter('number', TYPES.Int, 42);
    request.addParameter('real', TYPES.Float, 2.5);
  });
  equal(r.outputs.line, 'größe=   42|2.50', `${tag} xp_FormatStr's OUTPUT parameter`);

  // A Unicode path and value: the file holds UTF-16 with a UTF-16 line end.
  const name = `tedious-${tag.replace(/\W/g, '')}-日本.txt`;
  r = await run(connection, 'callProcedure', 'xp_FileAppendLine', request => {
    request.addParameter('file', TYPES.NVarChar, `c:\\${name}`);
    request.addParameter('line', TYPES.NVarChar, 'héllo 日本');
  });
  equal(r.status, 1, `${tag} xp_FileAppendLine's return status`);
  const file = path.join(driveRoot, 'c', name);
  const bytes = fs.existsSync(file) ? fs.readFileSync(file) : Buffer.alloc(0);
  equal(bytes.toString('hex'), Buffer.from('héllo 日本\r\n', 'utf16le').toString('hex'),
        `${tag} the Unicode file's content`);
  r = await run(connection, 'callProcedure', 'xp_FileExists', request => {
    request.addParameter('file', TYPES.NVarChar, `c:\\${name}`);
  });
  equal(r.status, 1, `${tag} xp_FileExists finds the Unicode file`);

  // execSql: sp_executesql with typed parameters, one of them OUTPUT.
  r = await run(connection, 'execSql',
    'DECLARE @d varchar(40); EXEC xp_sha_quick @text, @d OUTPUT; SELECT @d AS digest', request => {
      request.addParameter('text', TYPES.VarChar, 'The quick brown fox');
    });
  equal(r.rows.map(row => row.digest), [sha1('The quick brown fox')],
        `${tag} execSql with a parameter returns the row`);
  r = await run(connection, 'execSql', 'EXEC @status = xp_DirExists @dir', request => {
    request.addParameter('dir', TYPES.VarChar, 'c:\\');
    request.addOutputParameter('status', TYPES.Int);
  });
  equal(r.outputs.status, 1, `${tag} execSql's OUTPUT parameter holds the return status`);

  // Binary in and out: a buffer compressed on the server inflates here, encryption round trip.
  const data = crypto.randomBytes(3000);
  r = await run(connection, 'execSql',
    'DECLARE @h int; EXEC @h = xp_ZCreate @data; EXEC xp_ZCompress @h; EXEC xp_ZClose @h',
    request => { request.addParameter('data', TYPES.VarBinary, data); });
  const compressed = r.rows[0]?.Data;
  check(Buffer.isBuffer(compressed) && zlib.inflateSync(compressed).equals(data),
        `${tag} xp_ZCompress of binary parameter inflates to it`, r.error?.message ?? r.rows);
  r = await run(connection, 'execSql',
    'DECLARE @c varbinary(8000), @p varbinary(8000);' +
    "EXEC xp_symmetric_quick_encode 'DES', @pw, @data, @c OUTPUT;" +
    "EXEC xp_symmetric_quick_decode 'DES', @pw, @c, @p OUTPUT; SELECT @c AS c, @p AS p",
    request => {
      request.addParameter('pw', TYPES.NVarChar, 'pässword');
      request.addParameter('data', TYPES.VarBinary, data.subarray(0, 100));
    });
  const row = r.rows[0] ?? {};
  check(Buffer.isBuffer(row.c) && !row.c.subarray(0, 100).equals(data.subarray(0, 100)),
        `${tag} DES cipher bytes differ from the data`, r.error?.message ?? row.c);
  check(Buffer.isBuffer(row.p) && row.p.equals(data.subarray(0, 100)),
        `${tag} DES decode gives the data back`, r.error?.message ?? row.p);

  // Net: a ping of loopback with a named OUTPUT parameter. tedious names every parameter, and
  // xp_Ping takes its time limit and count only from unnamed ones: the defaults (4 echoes) apply.
  r = await run(connection, 'callProcedure', 'xp_Ping', request => {
    request.addParameter('host', TYPES.VarChar, '127.0.0.1');
    request.addParameter('timeout', TYPES.Int, 1000);
    request.addParameter('count', TYPES.Int, 2);
    request.addOutputParameter('LostPackets', TYPES.Int);
  });
  equal(r.rows.map(row => row.Address), Array(4).fill('127.0.0.1'),
        `${tag} xp_Ping returns a row per echo`);
  equal(r.outputs.LostPackets, 0, `${tag} xp_Ping's @LostPackets`);

  // A procedure's message and an engine error.
  r = await run(connection, 'execSqlBatch', 'EXEC xp_FileExists 42');
  check(r.messages.some(m => m.includes('Invalid list of parameters')),
        `${tag} the procedure's message arrives as an info message`, r.messages);
  r = await run(connection, 'execSqlBatch', 'EXEC no_such_procedure');
  equal(r.error?.number, 2812, `${tag} an unknown procedure is error 2812`);
}

async function cancel(connection) {
  // Attention right after the request: the batch stops between statements, the request ends
  // with ECANCEL and the connection serves the next request.
  const statements = 5000;
  const file = path.join(driveRoot, 'c', 'cancel.txt');
  const sql = "EXEC xp_FileAppendLine 'c:\\cancel.txt', 'x'\n".repeat(statements);
  const pending = run(connection, 'execSqlBatch', sql);
  connection.cancel();
  const r = await pending;
  equal(r.error?.code, 'ECANCEL', 'a cancelled request ends with ECANCEL');
  const lines = fs.existsSync(file) ? fs.readFileSync(file, 'latin1').split('\r\n').length - 1 : 0;
  check(lines < statements, 'the cancelled batch stops before its end', `${lines} lines`);
  const next = await run(connection, 'execSql', 'SELECT 7 AS seven');
  equal(next.rows, [{ seven: 7 }], 'the connection serves a request after the cancel');
}

async function reset(connection) {
  let resets = 0;
  connection.on('resetConnection', () => { resets += 1; });
  await run(connection, 'execSqlBatch', 'BEGIN TRANSACTION; SET NOCOUNT ON');
  let r = await run(connection, 'execSqlBatch', 'SELECT @@TRANCOUNT AS t');
  equal([r.rows[0]?.t, r.rowCount], [1, 0], 'before the reset: a transaction, NOCOUNT on');
  const error = await new Promise(resolve => connection.reset(resolve));
  equal(error?.message, undefined, 'connection.reset() succeeds');
  equal(resets, 1, 'the server acknowledges the reset (ENVCHANGE 18)');
  r = await run(connection, 'execSqlBatch', 'SELECT @@TRANCOUNT AS t');
  equal([r.rows[0]?.t, r.rowCount], [0, 1], 'after the reset: no transaction, NOCOUNT off');
}

// Several connections at once, each calling procedures by RPC: every answer is its own.
async function concurrent() {
  const connections = await Promise.all([1, 2, 3, 4].map(() => connect({ encrypt: true })));
  const answers = await Promise.all(connections.map(async (connection, n) => {
    const got = [];
    for (let i = 0; i < 20; i += 1) {
      const text = `connection ${n} call ${i}`;
      const r = await run(connection, 'callProcedure', 'xp_sha_quick', request => {
        request.addParameter('source', TYPES.VarChar, text);
        request.addOutputParameter('digest', TYPES.VarChar, null, { length: 40 });
      });
      got.push(r.outputs.digest === sha1(text));
    }
    return got.every(Boolean);
  }));
  equal(answers, [true, true, true, true], 'four connections at once get their own answers');
  await Promise.all(connections.map(close));
}

async function main() {
  // TLS for the whole connection (tedious's default encrypt: true) with a self-signed
  // certificate, then plaintext.
  let connection = await connect({ encrypt: true });
  equal(connection.secured, true, 'encrypt: true gives a TLS connection');
  await procedures(connection, '[TLS]');
  await cancel(connection);
  await reset(connection);
  await close(connection);

  connection = await connect({ encrypt: false });
  equal(connection.secured, false, 'encrypt: false stays in plaintext on loopback');
  await procedures(connection, '[plain]');
  await close(connection);

  await concurrent();

  for (const tdsVersion of ['7_1', '7_2', '7_3_B']) {
    connection = await connect({ encrypt: true, tdsVersion });
    const r = await run(connection, 'callProcedure', 'xp_sha_quick', request => {
      request.addParameter('source', TYPES.VarChar, 'abc');
      request.addOutputParameter('digest', TYPES.VarChar, null, { length: 40 });
    });
    equal([r.outputs.digest, r.status], [sha1('abc'), 1], `TDS ${tdsVersion}: RPC with OUTPUT`);
    await close(connection);
  }

}

main().catch(error => {
  check(false, 'the script ran to its end', error?.stack ?? error);
  process.exitCode = 1;
});
