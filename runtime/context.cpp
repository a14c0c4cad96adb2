// The context frame's objects (runtime/context.h): the parameters of a call read into items,
// the result-set columns, and the end of the call.
//
// Map: text conversions; TxpItem (one value: its kinds, setters and server type); TxpItems
// (the list that makes and owns its items); TxpParams (reading the parameters, writing OUTPUT
// ones back); TxpFields (describing columns, sending rows and the DONE packet); TXProc (one
// call, and EndCall, its end); failure reports of the frame.
#include "runtime/context.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "platform/windows.h"
#include "runtime/ansi_text.h"
#include "runtime/failure.h"
#include "runtime/frame.h"

namespace dunmarrow {

namespace {

// 8-bit text in the ANSI code page from UTF-16, sized by asking first: multi-byte characters
// are neither cut nor padded.
std::string WideToAnsi(const char16_t* units, size_t count) {
  if (count == 0) return std::string();
  const auto* wide = reinterpret_cast<LPCWSTR>(units);
  int length = CheckedNarrow<int>(count);
  int size = WideCharToMultiByte(CP_ACP, 0, wide, length, nullptr, 0, nullptr, nullptr);
  if (size <= 0) return std::string();
  std::string out(static_cast<size_t>(size), '\0');
  WideCharToMultiByte(CP_ACP, 0, wide, length, out.data(), size, nullptr, nullptr);
  return out;
}

std::u16string AnsiToWide(const char* text, size_t count) {
  if (count == 0) return std::u16string();
  int length = CheckedNarrow<int>(count);
  int size = MultiByteToWideChar(CP_ACP, 0, text, length, nullptr, 0);
  if (size <= 0) return std::u16string();
  std::u16string out(static_cast<size_t>(size), u'\0');
  MultiByteToWideChar(CP_ACP, 0, text, length, reinterpret_cast<LPWSTR>(out.data()), size);
  return out;
}

// The first `limit` UTF-16 units, not cutting a surrogate pair.
size_t WidePrefixLength(const std::u16string& text, size_t limit) {
  if (limit >= text.size()) return text.size();
  if (limit > 0 && text[limit - 1] >= 0xD800 && text[limit - 1] <= 0xDBFF) return limit - 1;
  return limit;
}

template <typename T>
T ReadLittleEndian(const uint8_t* data, size_t length) {
  T value{};
  std::memcpy(&value, data, std::min(length, sizeof value));
  return value;
}

}  // namespace

// --- TxpItem -------------------------------------------------------------------------------

void TxpItem::Clear() {
  ByteString().swap(data_);
  null_ = true;
}

int TxpItem::Index() const {
  return owner_ ? owner_->IndexOf(this) : -1;
}

std::string TxpItem::DisplayName() const {
  return name_.empty() ? std::to_string(Index() + 1) : name_;
}

SRV_PROC* TxpItem::Handle() const {
  return owner_ && owner_->Proc() ? owner_->Proc()->SrvProc() : nullptr;
}

uint32_t TxpItem::DataLenOf(size_t size) {
  return CheckedNarrow<uint32_t>(size);
}

int32_t TxpItem::AsInteger() const {
  if (IsNull()) return 0;
  // A tinyint is widened without sign, a smallint with sign; wider values give their first
  // four bytes.
  switch (data_.size()) {
    case 1:
      return data_[0];
    case 2:
      return ReadLittleEndian<int16_t>(data_.data(), 2);
    default:
      return ReadLittleEndian<int32_t>(data_.data(), data_.size());
  }
}

bool TxpItem::AsBoolean() const {
  return !IsNull() && data_[0] != 0;
}

double TxpItem::AsFloat() const {
  if (IsNull()) return 0.0;
  if (kind_ == dkBCD) {
    // A bigint parameter keeps its 8-byte integer.
    if (ods_type_ == SRVINT8 && data_.size() == 8) {
      return static_cast<double>(ReadLittleEndian<int64_t>(data_.data(), 8));
    }
    double value = 0.0;
    srv_convert(Handle(), SRVNUMERICN, const_cast<uint8_t*>(data_.data()),
                static_cast<DBINT>(data_.size()), SRVFLTN, &value, sizeof value);
    return value;
  }
  if (kind_ == dkFloat && data_.size() == 4) return ReadLittleEndian<float>(data_.data(), 4);
  return ReadLittleEndian<double>(data_.data(), data_.size());
}

int64_t TxpItem::AsCurrency() const {
  if (IsNull()) return 0;
  // A smallmoney parameter keeps its 4-byte count of ten-thousandths.
  if (data_.size() < 8) return ReadLittleEndian<int32_t>(data_.data(), data_.size());
  return OdsMoneyToCurrency(data_.data());
}

std::string TxpItem::AsString() const {
  if (IsNull()) return std::string();
  switch (kind_) {
    case dkBoolean:
      return data_[0] ? "True" : "False";
    case dkString:
    case dkMemo:
      return std::string(reinterpret_cast<const char*>(data_.data()), data_.size());
    case dkWideString: {
      std::u16string units(data_.size() / 2, u'\0');
      std::memcpy(units.data(), data_.data(), units.size() * 2);
      return WideToAnsi(units.data(), units.size());
    }
    default:
      return std::string();
  }
}

std::u16string TxpItem::AsWideString() const {
  if (IsNull()) return std::u16string();
  switch (kind_) {
    case dkBoolean:
      return data_[0] ? u"True" : u"False";
    case dkString:
    case dkMemo:
      return AnsiToWide(reinterpret_cast<const char*>(data_.data()), data_.size());
    case dkWideString: {
      std::u16string units(data_.size() / 2, u'\0');
      std::memcpy(units.data(), data_.data(), units.size() * 2);
      return units;
    }
    default:
      return std::u16string();
  }
}

ByteString TxpItem::AsBytes() const {
  return IsNull() ? ByteString() : data_;
}

void TxpItem::Store(TxpDataKind kind, const void* bytes, size_t length) {
  kind_ = kind;
  Clear();
  null_ = false;
  if (length > 0) {
    DataLenOf(length);  // the length must fit 32 bits
    const auto* begin = static_cast<const uint8_t*>(bytes);
    data_.assign(begin, begin + length);
  }
}

void TxpItem::SetAsInteger(int32_t value) {
  Store(dkInteger, &value, 4);
}

void TxpItem::SetAsBoolean(bool value) {
  uint8_t byte = value ? 1 : 0;
  Store(dkBoolean, &byte, 1);
}

void TxpItem::SetAsCurrency(int64_t value) {
  OdsMoney money = CurrencyToOdsMoney(value);
  Store(dkCurrency, money.bytes, 8);
}

void TxpItem::SetAsDateTime(double value) {
  kind_ = dkDateTime;
  Clear();  // a value out of range leaves the item NULL
  OdsDateTime date_time = DateTimeToOdsDateTime(value);
  Store(dkDateTime, date_time.bytes, 8);
}

void TxpItem::SetAsFloat(double value) {
  Store(dkFloat, &value, 8);
}

void TxpItem::SetAsBCD(double value) {
  uint8_t numeric[19] = {};
  numeric[0] = 38;
  numeric[1] = scale_;
  srv_convert(Handle(), SRVFLTN, &value, sizeof value, SRVNUMERICN, numeric, sizeof numeric);
  Store(dkBCD, numeric, sizeof numeric);
}

void TxpItem::SetAsString(std::string_view value) {
  Store(dkString, value.data(), value.size());
}

void TxpItem::SetAsWideString(std::u16string_view value) {
  Store(dkWideString, value.data(), value.size() * 2);
}

void TxpItem::SetAsMemo(std::string_view value) {
  SetAsString(value);
  kind_ = dkMemo;
}

void TxpItem::SetAsBytes(const uint8_t* bytes, uint32_t length) {
  SetData(bytes, length, dkBlob);
  kind_ = dkBytes;
}

void TxpItem::SetAsGuid(const uint8_t (&guid)[16]) {
  Store(dkGuid, guid, 16);
}

void TxpItem::SetData(const void* bytes, uint32_t length, TxpDataKind kind) {
  Store(kind, bytes, length);
}

uint32_t TxpItem::EffectiveSize() const {
  if (dynamic_cast<const TxpParams*>(owner_)) return size_;
  uint32_t limit;
  switch (kind_) {
    case dkString:
    case dkBytes:
      limit = 8000;
      break;
    case dkWideString:
      limit = 4000;
      break;
    case dkBlob:
    case dkMemo:
      limit = 2147483647;
      break;
    default:
      return DataLen();
  }
  return size_ == 0 ? limit : std::min(size_, limit);
}

// --- TxpItems ------------------------------------------------------------------------------

TxpItem& TxpItems::Add() {
  // The constructor is private to the collections: an item exists only in its owner's list.
  items_.push_back(std::unique_ptr<TxpItem>(new TxpItem(this)));
  return *items_.back();
}

TxpItem* TxpItems::Items(int index) {
  if (index < 0 || index >= Count()) return nullptr;
  return items_[static_cast<size_t>(index)].get();
}

int TxpItems::IndexOf(const TxpItem* item) const {
  auto found =
      std::find_if(items_.begin(), items_.end(),
                   [item](const std::unique_ptr<TxpItem>& own) { return own.get() == item; });
  return found == items_.end() ? -1 : static_cast<int>(found - items_.begin());
}

TxpItem* TxpItems::ItemByName(std::string_view name) const {
  // Letter case folds in ASCII only, and never inside a double-byte character.
  std::string wanted = AnsiLowerAscii(name);
  for (const auto& item : items_) {
    if (AnsiLowerAscii(item->DisplayName()) == wanted) return item.get();
  }
  return nullptr;
}

void TxpItems::Clear() {
  while (!items_.empty()) items_.pop_back();
}

// --- TxpParams -----------------------------------------------------------------------------

TxpParams::TxpParams(TXProc* proc) : TxpItems(proc) {
  ReadParameters();
}

void TxpParams::ReadParameters() {
  SRV_PROC* srvproc = Proc()->SrvProc();
  int count = srv_rpcparams(srvproc);
  for (int n = 1; n <= count; ++n) {
    TxpItem* item = &Add();
    int name_length = 0;
    const char* name = srv_paramname(srvproc, n, &name_length);
    if (name_length > 0 && name) item->name_ = name;
    // Ask for the lengths first, then read the whole value into a buffer of that size.
    uint32_t data_len = 0;
    int32_t null_flag = 0;
    srv_paraminfo(srvproc, n, &item->ods_type_, &item->max_len_, &data_len, nullptr, &null_flag);
    item->null_ = null_flag != 0;
    item->is_output_ = (srv_paramstatus(srvproc, n) & 1) != 0;
    item->kind_ = OdsTypeKind(item->ods_type_);
    if (!item->null_ && data_len > 0) {
      ByteString value(data_len);
      srv_paraminfo(srvproc, n, &item->ods_type_, &item->max_len_, &data_len, value.data(),
                    &null_flag);
      value.resize(std::min<size_t>(value.size(), data_len));
      item->data_ = std::move(value);
    }
  }
}

void TxpParams::WriteOutputParameters() {
  SRV_PROC* srvproc = Proc()->SrvProc();
  for (int index = 0; index < Count(); ++index) {
    TxpItem* item = Items(index);
    if (!item->IsOutput()) continue;
    int n = index + 1;
    if (item->IsNull()) {
      srv_paramset(srvproc, n, nullptr, 0);
      continue;
    }
    TxpDataKind own_kind = OdsTypeKind(item->OdsType());
    switch (item->Kind()) {
      case dkInteger:
      case dkBoolean:
      case dkFloat:
      case dkCurrency:
      case dkBCD:
      case dkDateTime:
      case dkBytes:
      case dkLargeint:
      case dkGuid:
        srv_paramsetoutput(srvproc, n, item->data_.data(), item->DataLen(), 0);
        break;
      case dkString:
        if (own_kind == dkWideString) {
          // The parameter holds UTF-16: send whole characters, at most its maximum length.
          std::u16string wide = item->AsWideString();
          size_t units = WidePrefixLength(wide, item->MaxLen() / 2);
          srv_paramsetoutput(srvproc, n, reinterpret_cast<uint8_t*>(wide.data()),
                             static_cast<uint32_t>(units * 2), 0);
        } else {
          // 8-bit text cut to the maximum length ends between two characters.
          std::string_view text(reinterpret_cast<const char*>(item->data_.data()), item->DataLen());
          size_t m = AnsiPrefixLength(text, item->MaxLen());
          srv_paramsetoutput(srvproc, n, item->data_.data(), static_cast<uint32_t>(m), 0);
        }
        break;
      case dkWideString:
        if (own_kind == dkString) {
          // The parameter holds 8-bit text: convert, then cut to its maximum length.
          std::string narrow = item->AsString();
          size_t bytes = AnsiPrefixLength(narrow, item->MaxLen());
          srv_paramsetoutput(srvproc, n, reinterpret_cast<uint8_t*>(narrow.data()),
                             static_cast<uint32_t>(bytes), 0);
        } else {
          size_t m = std::min<size_t>(item->MaxLen(), item->DataLen()) & ~size_t{1};
          srv_paramsetoutput(srvproc, n, item->data_.data(), static_cast<uint32_t>(m), 0);
        }
        break;
      default:
        break;  // dkUnknown, dkBlob, dkMemo: the parameter keeps the server's value
    }
  }
}

// --- TxpFields -----------------------------------------------------------------------------

TxpItem* TxpFields::Items(int index) {
  if (index < 0) return nullptr;
  while (index >= Count()) Add();
  return TxpItems::Items(index);
}

TxpItem* TxpFields::DefineField(int index, TxpDataKind kind, std::string name) {
  TxpItem* column = Items(index);
  if (!column) return nullptr;
  column->SetName(std::move(name));
  static const uint8_t kZeroGuid[16] = {};
  switch (kind) {
    case dkString:
      column->SetAsString("");
      break;
    case dkInteger:
      column->SetAsInteger(0);
      break;
    case dkBoolean:
      column->SetAsBoolean(false);
      break;
    case dkFloat:
      column->SetAsFloat(0);
      break;
    case dkCurrency:
      column->SetAsCurrency(0);
      break;
    case dkBCD:
      column->SetAsBCD(0);
      break;
    case dkDateTime:
      column->SetAsDateTime(0);
      break;
    case dkBytes:
      column->SetAsBytes(nullptr, 0);
      break;
    case dkBlob:
      column->SetData(nullptr, 0, dkBlob);
      break;
    case dkMemo:
      column->SetAsMemo("");
      break;
    case dkWideString:
      column->SetAsWideString(u"");
      break;
    case dkGuid:
      column->SetAsGuid(kZeroGuid);
      break;
    default:
      column->SetAsInteger(0);
      break;
  }
  column->Clear();
  return column;
}

namespace {

// The column type and length a column is described with.
void ColumnTypeAndLength(const TxpItem& column, int32_t* type, int32_t* length) {
  *type = KindOdsType(column.Kind());
  switch (column.Kind()) {
    case dkInteger:
      *length = 4;
      break;
    case dkBoolean:
      *length = 1;
      break;
    case dkFloat:
    case dkCurrency:
    case dkDateTime:
      *length = 8;
      break;
    case dkBCD:
      *length = 19;
      break;
    case dkGuid:
      *length = 16;
      break;
    case dkString:
    case dkWideString:
    case dkBytes:
    case dkBlob:
    case dkMemo:
      *length = static_cast<int32_t>(std::min<uint32_t>(column.EffectiveSize(), 0x7FFFFFFF));
      break;
    default:
      *length = static_cast<int32_t>(column.DataLen());
      break;
  }
}

}  // namespace

void TxpFields::Describe() {
  if (row_count_ != 0) return;
  SRV_PROC* srvproc = Proc()->SrvProc();
  for (int i = 0; i < Count(); ++i) {
    TxpItem* column = Items(i);
    int32_t type, length;
    ColumnTypeAndLength(*column, &type, &length);
    std::string name = column->DisplayName();
    srv_describe(srvproc, i + 1, name.data(), SRV_NULLTERM, type, length, type, 0, nullptr);
  }
}

void TxpFields::SendRow() {
  Describe();
  SRV_PROC* srvproc = Proc()->SrvProc();
  // 8-bit text goes out as UTF-16: these buffers live until the row has been sent.
  std::vector<std::u16string> wide_buffers;
  wide_buffers.reserve(static_cast<size_t>(Count()));
  for (int i = 0; i < Count(); ++i) {
    TxpItem* column = Items(i);
    int n = i + 1;
    if (column->IsNull()) {
      srv_setcollen(srvproc, n, 0);
      srv_setcoldata(srvproc, n, nullptr);
      continue;
    }
    bool eight_bit = column->Kind() == dkString || column->Kind() == dkMemo;
    if (eight_bit) {
      wide_buffers.push_back(column->AsWideString());
      std::u16string& wide = wide_buffers.back();
      size_t units = WidePrefixLength(wide, column->EffectiveSize() / 2);
      srv_setcollen(srvproc, n, static_cast<int>(units * 2));
      srv_setcoldata(srvproc, n, wide.data());
      continue;
    }
    uint32_t length = std::min(column->DataLen(), column->EffectiveSize());
    srv_setcollen(srvproc, n, static_cast<int>(length));
    switch (column->Kind()) {
      case dkInteger:
      case dkBoolean:
      case dkFloat:
      case dkCurrency:
      case dkBCD:
      case dkDateTime:
      case dkBytes:
      case dkBlob:
      case dkWideString:
      case dkLargeint:
      case dkGuid:
        srv_setcoldata(srvproc, n, const_cast<uint8_t*>(column->Data()));
        break;
      default:
        break;
    }
  }
  srv_sendrow(srvproc);
  ++row_count_;
  for (int i = 0; i < Count(); ++i) Items(i)->Clear();
}

void TxpFields::SendDone() {
  if (row_count_ == 0) {
    if (Count() == 0) return;
    SendRow();
  }
  srv_senddone(Proc()->SrvProc(), SRV_DONE_COUNT | SRV_DONE_MORE, 0, row_count_);
  row_count_ = 0;
  Clear();
}

// --- TXProc --------------------------------------------------------------------------------

void TXProc::EndCall() {
  // The DONE packet always comes before the OUTPUT values. Rows sent and not yet ended get
  // their counted DONE; otherwise (also after the procedure's own SendDone) a plain one.
  if (fields_ && fields_->RowCount() != 0) {
    fields_->SendDone();
  } else {
    srv_senddone(srvproc_, SRV_DONE_MORE, 0, 0);
  }
  params_.WriteOutputParameters();
}

TxpFields& TXProc::Fields() {
  if (!fields_) fields_ = std::make_unique<TxpFields>(this);
  return *fields_;
}

void TXProc::SendMessage(const std::string& text, int32_t number, int severity, uint8_t state) {
  if (severity < 0 || severity > 255) RaiseRangeError();
  srv_sendmsg(srvproc_, SRV_MSG_ERROR, number, static_cast<DBTINYINT>(severity), state, nullptr, 0,
              1, const_cast<char*>(text.c_str()), static_cast<int>(text.size()));
}

namespace {

// The failure with a routine's name after its message; the address stays the one where the
// failure was raised.
std::exception_ptr WithSuffix(std::exception_ptr failure, const std::string& suffix) {
  try {
    std::rethrow_exception(failure);
  } catch (const Exception& e) {
    return std::make_exception_ptr(Exception(e.Message() + suffix, e.Address()));
  } catch (const std::bad_alloc&) {
    return std::make_exception_ptr(Exception(kOutOfMemoryMessage + suffix, nullptr));
  } catch (const std::exception& e) {
    return std::make_exception_ptr(Exception(e.what() + suffix, nullptr));
  } catch (...) {
    return std::make_exception_ptr(Exception("Unknown failure" + suffix, nullptr));
  }
}

}  // namespace

int ReportFailure(SRV_PROC* srvproc, const std::string& prefix, std::exception_ptr failure,
                  const std::string& suffix) {
  if (!suffix.empty()) failure = WithSuffix(failure, suffix);
  try {
    std::rethrow_exception(failure);
  } catch (...) {
    return ReportCurrentFailure(srvproc, prefix.c_str());
  }
}

}  // namespace dunmarrow
