// Many threads hashing and encrypting at once through the procedures: every result is right,
// the shared provider is created once, and (in the ThreadSanitizer build) nothing races.
#include <atomic>
#include <thread>
#include <vector>

#include "tests/unit/crypt_helpers.h"
#include "tests/unit/procedures.h"

namespace dunmarrow::test {
namespace {

using namespace ods::params;

class CryptStressTest : public CryptTest {};

std::string OutputOf(const CallResult& result) {
  if (result.status != 1 || result.events.size() != 2) return "<failed>";
  return std::string(result.events[1].data.begin(), result.events[1].data.end());
}

TEST_F(CryptStressTest, ManyThreadsHashAndEncryptAtOnce) {
  constexpr int kThreads = 8;
  constexpr int kRounds = 40;
  static const char* const kAlgorithms[] = {"RC2", "RC4", "DES"};
  std::atomic<int> ready{0};
  std::atomic<int> wrong{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      // All threads start together, so that the first ones race to create the provider.
      ++ready;
      while (ready.load() < kThreads) std::this_thread::yield();
      for (int round = 0; round < kRounds; ++round) {
        std::string value = "thread " + std::to_string(t) + " round " + std::to_string(round);
        value += std::string(static_cast<size_t>(round * 37 % 300), static_cast<char>('a' + t));
        CallResult hashed = Call(xp_sha_quick, {VarChar(value), Output(VarChar("", 40))});
        if (OutputOf(hashed) != LowerHex(Sha1Of(value))) ++wrong;
        if (Call(xp_sha_quick_compare, {VarChar(value), VarChar(LowerHex(Sha1Of(value)))}).status !=
            1) {
          ++wrong;
        }
        std::string algorithm = kAlgorithms[(t + round) % 3];
        std::string password = "pw" + std::to_string(t * 1000 + round);
        CallResult encoded =
            Call(xp_symmetric_quick_encode,
                 {VarChar(algorithm), VarChar(password), VarChar(value), Output(VarBinaryMax({}))});
        std::string cipher = OutputOf(encoded);
        if (cipher != OracleEncrypt(algorithm, password, value)) ++wrong;
        CallResult decoded =
            Call(xp_symmetric_quick_decode, {VarChar(algorithm), VarChar(password),
                                             VarBinary(BytesOf(cipher)), Output(VarBinaryMax({}))});
        if (OutputOf(decoded) != value) ++wrong;
      }
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(wrong.load(), 0);
  EXPECT_NE(SharedCryptoProvider()->Handle(), 0u);
}

}  // namespace
}  // namespace dunmarrow::test
