// Every procedure family over FreeTDS, with the expected answers computed here.
#include "procedure_calls.h"

#include <nettle/sha1.h>
#include <zlib.h>

#include <algorithm>
#include <cctype>
#include <cstdio>

namespace dunmarrow::load {

namespace {

std::string Hex(const std::string& bytes) {
  static const char digits[] = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : bytes) {
    out += digits[c >> 4];
    out += digits[c & 15];
  }
  return out;
}

std::string FromHex(const std::string& hex) {
  std::string out;
  for (size_t i = 0; i + 1 < hex.size(); i += 2) {
    out += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
  }
  return out;
}

std::string Upper(std::string text) {
  for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return text;
}

std::string Sha1Hex(const std::string& text) {
  sha1_ctx context;
  sha1_init(&context);
  sha1_update(&context, text.size(), reinterpret_cast<const uint8_t*>(text.data()));
  uint8_t digest[SHA1_DIGEST_SIZE];
  sha1_digest(&context, sizeof digest, digest);
  return Hex(std::string(reinterpret_cast<char*>(digest), sizeof digest));
}

std::string Deflate(const std::string& text) {
  uLongf length = compressBound(text.size());
  std::string out(length, '\0');
  compress2(reinterpret_cast<Bytef*>(out.data()), &length,
            reinterpret_cast<const Bytef*>(text.data()), text.size(), 9);
  out.resize(length);
  return out;
}

std::string Inflate(const std::string& data, size_t expected) {
  std::string out(expected + 64, '\0');
  uLongf length = out.size();
  if (uncompress(reinterpret_cast<Bytef*>(out.data()), &length,
                 reinterpret_cast<const Bytef*>(data.data()), data.size()) != Z_OK) {
    return "(not a zlib stream)";
  }
  out.resize(length);
  return out;
}

// The text a call works on: different for every client and call.
std::string Payload(const ClientState& state, int call) {
  std::string one =
      "client " + std::to_string(state.client) + " call " + std::to_string(call) + ";";
  std::string text;
  for (int i = 0; i < 12; ++i) text += one;
  return text;
}

std::string FilePath(const ClientState& state) {
  return "c:\\load\\client" + std::to_string(state.client) + ".txt";
}

// The rows of a batch; an error text in `error` when it failed or gave no row.
std::vector<Row> Run(FreeTdsConnection& connection, const std::string& sql, std::string& error) {
  std::vector<Row> rows;
  if (!connection.Batch(sql, rows)) {
    error = connection.error();
  } else if (rows.empty() || rows.back().empty()) {
    error = "no row";
  }
  return rows;
}

std::string Expect(const char* family, const std::string& got, const std::string& want) {
  if (got == want) return "";
  return std::string(family) + ": got '" + got.substr(0, 80) + "', expected '" +
         want.substr(0, 80) + "'";
}

}  // namespace

std::string PrepareClient(FreeTdsConnection& connection, ClientState& state) {
  std::vector<Row> rows;
  if (!connection.Batch("EXEC xp_FileDelete '" + FilePath(state) + "'", rows)) {
    return "file delete: " + connection.error();
  }
  state.file_size = 0;
  return "";
}

std::string MakeCall(FreeTdsConnection& connection, ClientState& state, int call) {
  std::string error;
  std::string text = Payload(state, call);
  switch (call % kFamilies) {
    case 0: {
      std::string line = "line " + std::to_string(call);
      std::vector<Row> rows =
          Run(connection,
              "EXEC xp_FileAppendLine '" + FilePath(state) + "', '" + line +
                  "'\nDECLARE @size int, @found int\nEXEC @size = xp_FileSize '" + FilePath(state) +
                  "'\nEXEC @found = xp_FileExists '" + FilePath(state) + "'\nSELECT @size, @found",
              error);
      if (!error.empty()) return "files: " + error;
      state.file_size += static_cast<long>(line.size()) + 2;  // CR LF
      error = Expect("files", rows.back()[0] + " " + rows.back()[1],
                     std::to_string(state.file_size) + " 1");
      // The same question by RPC, answered in the return status.
      int found = -1;
      if (error.empty() && !connection.Call("xp_FileExists", {FilePath(state)}, found)) {
        return "xp_FileExists by RPC: " + connection.error();
      }
      return error.empty() ? Expect("xp_FileExists by RPC", std::to_string(found), "1") : error;
    }
    case 1: {
      std::vector<Row> rows = Run(connection,
                                  "DECLARE @line nvarchar(80)\nEXEC xp_FormatStr @line OUTPUT, "
                                  "'c%d-%5d|%-4s|', " +
                                      std::to_string(state.client) + ", " + std::to_string(call) +
                                      ", 'ab'\nSELECT @line",
                                  error);
      if (!error.empty()) return "xp_FormatStr: " + error;
      char want[64];
      std::snprintf(want, sizeof want, "c%d-%5d|%-4s|", state.client, call, "ab");
      return Expect("xp_FormatStr", rows.back()[0], want);
    }
    case 2: {
      std::vector<Row> rows = Run(connection,
                                  "DECLARE @h int\nEXEC @h = xp_ZCreate '" + text +
                                      "'\nEXEC xp_ZCompress @h\nEXEC xp_ZClose @h",
                                  error);
      if (!error.empty()) return "xp_ZCompress: " + error;
      return Expect("xp_ZCompress", Inflate(FromHex(rows.back()[0]), text.size()), text);
    }
    case 3: {
      std::vector<Row> rows = Run(connection,
                                  "DECLARE @h int\nEXEC @h = xp_ZCreate 0x" + Hex(Deflate(text)) +
                                      "\nEXEC xp_ZDecompress @h\nEXEC xp_ZClose @h",
                                  error);
      if (!error.empty()) return "xp_ZDecompress: " + error;
      return Expect("xp_ZDecompress", rows.back()[0], Hex(text));
    }
    case 4: {
      std::vector<Row> rows = Run(
          connection,
          "DECLARE @hex varchar(40)\nEXEC xp_sha_quick '" + text + "', @hex OUTPUT\nSELECT @hex",
          error);
      if (!error.empty()) return "xp_sha_quick: " + error;
      return Expect("xp_sha_quick", Upper(rows.back()[0]), Sha1Hex(text));
    }
    case 5: {
      std::string plain = text.substr(0, 40);
      std::string password = "pw" + std::to_string(state.client);
      std::vector<Row> rows = Run(
          connection,
          "DECLARE @c varbinary(200), @p varbinary(200)\nEXEC xp_symmetric_quick_encode "
          "'RC4', '" +
              password + "', '" + plain + "', @c OUTPUT\nEXEC xp_symmetric_quick_decode 'RC4', '" +
              password + "', @c, @p OUTPUT\nSELECT @c, CAST(@p AS varchar(200))",
          error);
      if (!error.empty()) return "crypt: " + error;
      if (rows.back()[0] == Hex(plain) || rows.back()[0].empty()) return "crypt: not encrypted";
      return Expect("crypt", rows.back()[1], plain);
    }
    default: {
      std::vector<Row> rows = Run(connection,
                                  "DECLARE @a varchar(15), @s int\nEXEC @s = xp_GetAddrByHost "
                                  "'0x7f.0.0.1', @a OUTPUT\nSELECT @s, @a",
                                  error);
      if (!error.empty()) return "xp_GetAddrByHost: " + error;
      return Expect("xp_GetAddrByHost", rows.back()[0] + " " + rows.back()[1], "1 127.0.0.1");
    }
  }
}

}  // namespace dunmarrow::load
