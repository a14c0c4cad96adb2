// libFuzzer target for the format engine: arbitrary formats over arbitrary argument lists and
// settings. Every call must end in a result or one of the engine's failures; a result must
// have the measured length, and a pass with a smaller capacity must give its beginning.
//
// Input: a settings byte (positive layout in bits 0-2, currency decimals in bits 3-7), a byte
// for the negative layout (bits 0-4) and separators (bit 5: no grouping, bit 6: comma decimals,
// bit 7: a longer symbol), the argument count, the arguments (a kind byte, then the value:
// 4 bytes integer, 1 byte boolean, 8 bytes double, 10 bytes raw extended, 8 bytes currency, or
// a length byte and that many UTF-16 units), and the rest as the UTF-16 format.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "procs/format/format_engine.h"
#include "runtime/failure.h"

namespace {

using dunmarrow::FormatArg;

class Reader {
 public:
  Reader(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  uint8_t Byte() { return pos_ < size_ ? data_[pos_++] : 0; }
  void Bytes(void* out, size_t n) {
    std::memset(out, 0, n);
    size_t take = std::min(n, size_ - pos_);
    std::memcpy(out, data_ + pos_, take);
    pos_ += take;
  }
  std::u16string Units(size_t n) {
    std::u16string text;
    while (n-- > 0 && pos_ + 1 < size_) {
      text += static_cast<char16_t>(data_[pos_] | (data_[pos_ + 1] << 8));
      pos_ += 2;
    }
    return text;
  }
  std::u16string Rest() { return Units(size_); }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t pos_ = 0;
};

// Results up to this size are built whole; longer ones are only measured.
constexpr uint64_t kBuildLimit = 1 << 20;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Reader in(data, size);
  dunmarrow::RegionalFormat settings;
  uint8_t a = in.Byte();
  uint8_t b = in.Byte();
  settings.positive_currency_format = a & 7;
  settings.currency_decimals = a >> 3;
  settings.negative_currency_format = b & 31;
  if (b & 32) settings.thousand_separator = u'\0';
  if (b & 64) settings.decimal_separator = u',';
  settings.currency_symbol = (b & 128) ? u"EUR" : u"$";

  std::vector<FormatArg> args(in.Byte() % 16);
  for (FormatArg& arg : args) {
    switch (in.Byte() % 6) {
      case 0: {
        int32_t v;
        in.Bytes(&v, sizeof v);
        arg = FormatArg::Integer(v);
        break;
      }
      case 1:
        arg = FormatArg::Boolean(in.Byte() & 1);
        break;
      case 2: {
        double v;
        in.Bytes(&v, sizeof v);
        arg = FormatArg::Float(v);
        break;
      }
      case 3: {
        // Any bit pattern, the encodings the hardware never produces included.
        long double v = 0;
        in.Bytes(&v, 10);
        arg = FormatArg::Float(v);
        break;
      }
      case 4: {
        int64_t v;
        in.Bytes(&v, sizeof v);
        arg = FormatArg::Currency(v);
        break;
      }
      default:
        arg = FormatArg::WideText(in.Units(in.Byte()));
        break;
    }
  }
  std::u16string format = in.Rest();

  try {
    uint64_t length = dunmarrow::MeasureWideText(format, args, settings);
    if (length > kBuildLimit) {
      if (length > dunmarrow::kMaxFormatResult) {
        try {
          dunmarrow::FormatWideText(format, args, settings);
          std::abort();  // a result past the limit must fail
        } catch (const dunmarrow::Exception& failure) {
          if (failure.Message() != dunmarrow::kRangeErrorMessage) std::abort();
        }
      }
      return 0;
    }
    std::u16string text = dunmarrow::FormatWideText(format, args, settings);
    if (text.size() != length) std::abort();
    size_t capacity = text.size() / 2;
    std::vector<char16_t> buffer(capacity + 1, u'#');
    size_t written = dunmarrow::FormatWideBuf(buffer.data(), capacity, format, args, settings);
    if (written != capacity || buffer[capacity] != u'#') std::abort();
    if (std::memcmp(buffer.data(), text.data(), capacity * sizeof(char16_t)) != 0) std::abort();
  } catch (const dunmarrow::Exception&) {
    // "No argument ...", "Format ... invalid ...", "Range check error": expected answers.
  }
  return 0;
}
