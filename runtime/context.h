// The context of one procedure call: every parameter read into an item with typed views and
// setters, the result-set columns, and the end of the call.
//
// Who owns what: the context frame (RunContextFrame, at the end of this file) owns the TXProc
// of a call, on its stack. A TXProc owns its TxpParams (a member, made as the context is made)
// and its TxpFields (made on first use). A collection owns its items through unique_ptrs and is
// the only one that makes them (TxpItems::Add) or destroys them (Clear, or its own end). The
// back-pointers (an item's Owner, a collection's Proc) never own.
//
// When the call ends: the frame calls TXProc::EndCall exactly once, after the procedure's work
// has returned or failed and before a failure is reported. EndCall ends the results (a counted
// DONE when rows were sent, otherwise DONE status 1) and then writes the OUTPUT parameters
// back. Destroying any of these objects sends nothing.
#pragma once

#include <cstdint>
#include <exception>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "ods/srv.h"
#include "runtime/data_kind.h"

namespace dunmarrow {

class TXProc;
class TxpItems;
class TxpFields;
class TxpParams;

using ByteString = std::vector<uint8_t>;

// One parameter or result column, owned by the collection that made it.
class TxpItem {
 public:
  virtual ~TxpItem() = default;
  TxpItem(const TxpItem&) = delete;
  TxpItem& operator=(const TxpItem&) = delete;

  TxpItems* Owner() const { return owner_; }
  const std::string& Name() const { return name_; }
  void SetName(std::string name) { name_ = std::move(name); }
  // The value bytes; null when DataLen is 0.
  const uint8_t* Data() const { return data_.empty() ? nullptr : data_.data(); }
  uint32_t DataLen() const { return static_cast<uint32_t>(data_.size()); }
  bool NullFlag() const { return null_; }
  uint32_t MaxLen() const { return max_len_; }
  TxpDataKind Kind() const { return kind_; }
  uint8_t OdsType() const { return ods_type_; }
  bool IsOutput() const { return is_output_; }
  uint32_t Size() const { return size_; }
  uint8_t Scale() const { return scale_; }
  void SetScale(uint8_t scale) { scale_ = scale; }

  // Frees the value: NULL from now on; kind, name and the other fields stay.
  void Clear();
  // NULL, or empty: an empty string, an empty binary and a NULL are the same to every reader.
  bool IsNull() const { return null_ || data_.empty(); }
  int Index() const;
  // Name, or the 1-based position ("3") when the item has no name.
  std::string DisplayName() const;

  int32_t AsInteger() const;
  bool AsBoolean() const;
  double AsFloat() const;
  int64_t AsCurrency() const;
  std::string AsString() const;
  std::u16string AsWideString() const;
  ByteString AsBytes() const;

  virtual void SetAsInteger(int32_t value);
  virtual void SetAsBoolean(bool value);
  virtual void SetAsCurrency(int64_t value);
  virtual void SetAsDateTime(double value);
  virtual void SetAsFloat(double value);
  virtual void SetAsBCD(double value);
  virtual void SetAsString(std::string_view value);
  virtual void SetAsWideString(std::u16string_view value);
  virtual void SetAsMemo(std::string_view value);
  void SetAsBytes(const uint8_t* bytes, uint32_t length);
  void SetAsBytes(const ByteString& bytes) { SetAsBytes(bytes.data(), DataLenOf(bytes.size())); }
  void SetAsGuid(const uint8_t (&guid)[16]);
  void SetData(const void* bytes, uint32_t length, TxpDataKind kind);

  void SetSize(uint32_t size) { size_ = size; }
  // The maximum length of the item as a result column.
  uint32_t EffectiveSize() const;

 private:
  friend class TxpItems;   // makes items
  friend class TxpParams;  // reads parameters into them and writes them back
  explicit TxpItem(TxpItems* owner) : owner_(owner) {}
  static uint32_t DataLenOf(size_t size);
  void Store(TxpDataKind kind, const void* bytes, size_t length);
  SRV_PROC* Handle() const;

  TxpItems* owner_;  // not owned; the collection outlives its items
  std::string name_;
  ByteString data_;
  bool null_ = false;
  uint32_t max_len_ = 0;
  TxpDataKind kind_ = dkUnknown;
  uint8_t ods_type_ = SRVNULL;
  bool is_output_ = false;
  uint32_t size_ = 0;
  uint8_t scale_ = 10;
};

// An ordered collection that owns its items.
class TxpItems {
 public:
  explicit TxpItems(TXProc* proc) : proc_(proc) {}
  virtual ~TxpItems() = default;
  TxpItems(const TxpItems&) = delete;
  TxpItems& operator=(const TxpItems&) = delete;

  TXProc* Proc() const { return proc_; }
  int Count() const { return static_cast<int>(items_.size()); }
  // The item at a 0-based index, or null when there is none.
  virtual TxpItem* Items(int index);
  int IndexOf(const TxpItem* item) const;
  // The first item whose DisplayName matches, ASCII letters compared without case.
  TxpItem* ItemByName(std::string_view name) const;
  // Destroys every item, last first.
  void Clear();

 protected:
  // Makes a new, empty item at the end of the collection; the collection owns it.
  TxpItem& Add();

 private:
  TXProc* proc_;  // not owned; the context outlives its collections
  std::vector<std::unique_ptr<TxpItem>> items_;
};

// The parameters of the call, read as it is made.
class TxpParams : public TxpItems {
 public:
  explicit TxpParams(TXProc* proc);

  // Sends the value of every OUTPUT parameter back to the server, in parameter order; part of
  // the end of the call (TXProc::EndCall).
  void WriteOutputParameters();

 private:
  void ReadParameters();
};

// The result-set columns.
class TxpFields : public TxpItems {
 public:
  explicit TxpFields(TXProc* proc) : TxpItems(proc) {}
  // Creates empty columns up to the index when it is not below Count.
  TxpItem* Items(int index) override;
  TxpItem* DefineField(int index, TxpDataKind kind, std::string name);
  void Describe();
  void SendRow();
  void SendDone();
  int32_t RowCount() const { return row_count_; }

 private:
  int32_t row_count_ = 0;
};

template <typename Work>
int RunContextFrame(SRV_PROC* srvproc, const std::string& prefix, const std::string& suffix,
                    Work&& work);

// The context of one call: made by the context frame, which reads every parameter by making
// it, and ended by the frame with EndCall.
class TXProc {
 public:
  explicit TXProc(SRV_PROC* srvproc) : srvproc_(srvproc), params_(this) {}
  virtual ~TXProc() = default;
  TXProc(const TXProc&) = delete;
  TXProc& operator=(const TXProc&) = delete;

  SRV_PROC* SrvProc() const { return srvproc_; }
  TxpParams& Params() { return params_; }
  TxpFields& Fields();
  // An error message (type 2) with the number, severity (0..255) and state; line 1.
  virtual void SendMessage(const std::string& text, int32_t number, int severity, uint8_t state);

 private:
  // The end of the call, on success and on failure alike: ends the results (a counted DONE
  // when rows were sent and not yet ended, otherwise DONE status 1), then writes the OUTPUT
  // parameters back. Only the frame calls it, once per call.
  void EndCall();
  template <typename Work>
  friend int RunContextFrame(SRV_PROC* srvproc, const std::string& prefix,
                             const std::string& suffix, Work&& work);

  SRV_PROC* srvproc_;  // not owned: the server's handle of the call
  TxpParams params_;
  std::unique_ptr<TxpFields> fields_;  // none until first asked for
};

// Reports a caught failure under the procedure's prefix, with the suffix (if any) after its
// message; returns -1.
int ReportFailure(SRV_PROC* srvproc, const std::string& prefix, std::exception_ptr failure,
                  const std::string& suffix = "");

// The context frame: makes the TXProc (reading the parameters), runs the work, ends the call
// (DONE, then the OUTPUT parameters) whether the work returned or failed, and only then reports
// a failure, with the suffix after its message. The work returns the status.
//
// A failure of reading the parameters is reported with no DONE before it: there is no context
// to end. A failure while ending the call is reported unless the work's failure already is.
template <typename Work>
int RunContextFrame(SRV_PROC* srvproc, const std::string& prefix, const std::string& suffix,
                    Work&& work) {
  int status = -1;
  std::exception_ptr failure;
  try {
    TXProc proc(srvproc);
    try {
      status = work(proc);
    } catch (...) {
      failure = std::current_exception();
    }
    proc.EndCall();
  } catch (...) {
    if (!failure) failure = std::current_exception();
  }
  if (failure) status = ReportFailure(srvproc, prefix, failure, suffix);
  return status;
}

template <typename Work>
int RunContextFrame(SRV_PROC* srvproc, const std::string& prefix, Work&& work) {
  return RunContextFrame(srvproc, prefix, std::string(), std::forward<Work>(work));
}

}  // namespace dunmarrow
