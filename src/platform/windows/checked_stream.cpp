#include "platform/windows/checked_stream.h"

#include <new>

namespace {

long long gRoom = -1;  // SetStreamRoomForTests

bool WriteAll(HANDLE file, const void* data, DWORD size) {
  DWORD written = 0;
  return WriteFile(file, data, size, &written, nullptr) && written == size;
}

// Whether the test's disk has room for `size` bytes at `at` in a file of `length` bytes (a
// gap between the two is taken too).
bool TakeRoom(ULONGLONG at, ULONG size, ULONGLONG length) {
  if (gRoom < 0 || at + size <= length) return true;
  const long long needed = static_cast<long long>(at + size - length);
  if (needed > gRoom) {
    gRoom = 0;
    SetLastError(ERROR_DISK_FULL);
    return false;
  }
  gRoom -= needed;
  return true;
}

}  // namespace

void SetStreamRoomForTests(long long bytes) { gRoom = bytes < 0 ? -1 : bytes; }

CheckedFileStream* CheckedFileStream::New() { return new (std::nothrow) CheckedFileStream(); }

bool CheckedFileStream::Open(const char* name) {
  file_ = CreateFileA(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                      nullptr);
  return file_ != INVALID_HANDLE_VALUE;
}

CheckedFileStream::~CheckedFileStream() {
  if (file_ != INVALID_HANDLE_VALUE) CloseHandle(file_);
}

bool CheckedFileStream::Position(ULONGLONG* at) const {
  LARGE_INTEGER zero{}, now{};
  if (!SetFilePointerEx(file_, zero, &now, FILE_CURRENT)) return false;
  *at = static_cast<ULONGLONG>(now.QuadPart);
  return true;
}

bool CheckedFileStream::MoveTo(ULONGLONG at) const {
  LARGE_INTEGER to;
  to.QuadPart = static_cast<LONGLONG>(at);
  return SetFilePointerEx(file_, to, nullptr, FILE_BEGIN) != 0;
}

bool CheckedFileStream::Length(ULONGLONG* size) const {
  LARGE_INTEGER s;
  if (!GetFileSizeEx(file_, &s)) return false;
  *size = static_cast<ULONGLONG>(s.QuadPart);
  return true;
}

void CheckedFileStream::Checkpoint() {
  if (failed_ || stopped_ || !Length(&checkpoint_)) return;
  saved_.clear();
}

bool CheckedFileStream::Save(ULONGLONG at, ULONG size) {
  if (at >= checkpoint_) return true;
  const ULONGLONG end = at + size < checkpoint_ ? at + size : checkpoint_;
  const DWORD count = static_cast<DWORD>(end - at);
  try {
    saved_.push_back(Saved{at, std::vector<BYTE>(count)});
  } catch (const std::bad_alloc&) {
    noMemory_ = true;
    return false;
  }
  DWORD read = 0;
  return ReadFile(file_, saved_.back().bytes.data(), count, &read, nullptr) && read == count && MoveTo(at);
}

bool CheckedFileStream::Rollback() {
  bool ok = true;
  for (auto it = saved_.rbegin(); it != saved_.rend(); ++it)
    ok = ok && MoveTo(it->at) && WriteAll(file_, it->bytes.data(), static_cast<DWORD>(it->bytes.size()));
  saved_.clear();
  return ok && MoveTo(checkpoint_) && SetEndOfFile(file_);
}

bool CheckedFileStream::Close() {
  if (file_ == INVALID_HANDLE_VALUE) return true;
  const bool closed = CloseHandle(file_) != 0;
  file_ = INVALID_HANDLE_VALUE;
  return closed;
}

HRESULT CheckedFileStream::Refuse() {
  if (!failed_ && !stopped_) {
    failed_ = true;
    error_ = GetLastError();
  }
  return error_ == ERROR_DISK_FULL || error_ == ERROR_HANDLE_DISK_FULL ? STG_E_MEDIUMFULL : STG_E_WRITEFAULT;
}

HRESULT CheckedFileStream::QueryInterface(REFIID iid, void** out) {
  if (!out) return E_POINTER;
  if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_ISequentialStream) || IsEqualIID(iid, IID_IStream)) {
    *out = static_cast<IStream*>(this);
    AddRef();
    return S_OK;
  }
  *out = nullptr;
  return E_NOINTERFACE;
}

ULONG CheckedFileStream::AddRef() { return static_cast<ULONG>(InterlockedIncrement(&refs_)); }

ULONG CheckedFileStream::Release() {
  const LONG left = InterlockedDecrement(&refs_);
  if (left == 0) delete this;
  return static_cast<ULONG>(left);
}

HRESULT CheckedFileStream::Read(void* data, ULONG size, ULONG* done) {
  DWORD read = 0;
  const BOOL ok = file_ != INVALID_HANDLE_VALUE && ReadFile(file_, data, size, &read, nullptr);
  if (done) *done = read;
  if (!ok) return STG_E_READFAULT;
  return read == size ? S_OK : S_FALSE;
}

HRESULT CheckedFileStream::Write(const void* data, ULONG size, ULONG* done) {
  if (done) *done = 0;
  if (failed_ || stopped_ || file_ == INVALID_HANDLE_VALUE) return Refuse();
  ULONGLONG at = 0, length = 0;
  if (!Position(&at) || !Length(&length) || !Save(at, size)) return Refuse();
  if (!TakeRoom(at, size, length) || !WriteAll(file_, data, size)) return Refuse();
  if (done) *done = size;
  return S_OK;
}

HRESULT CheckedFileStream::Seek(LARGE_INTEGER move, DWORD origin, ULARGE_INTEGER* position) {
  LARGE_INTEGER now{};
  if (origin > STREAM_SEEK_END || !SetFilePointerEx(file_, move, &now, origin)) return STG_E_INVALIDFUNCTION;
  if (position) position->QuadPart = static_cast<ULONGLONG>(now.QuadPart);
  return S_OK;
}

HRESULT CheckedFileStream::SetSize(ULARGE_INTEGER size) {
  ULONGLONG at = 0, length = 0;
  if (failed_ || stopped_ || !Position(&at) || !Length(&length)) return Refuse();
  // A cut below the checkpoint could not be undone.
  if (size.QuadPart < checkpoint_) return STG_E_INVALIDFUNCTION;
  if (!MoveTo(size.QuadPart) || !SetEndOfFile(file_) || !MoveTo(at)) return Refuse();
  return S_OK;
}

HRESULT CheckedFileStream::CopyTo(IStream*, ULARGE_INTEGER, ULARGE_INTEGER*, ULARGE_INTEGER*) {
  return E_NOTIMPL;
}

HRESULT CheckedFileStream::Commit(DWORD) { return failed_ ? Refuse() : S_OK; }

HRESULT CheckedFileStream::Revert() { return E_NOTIMPL; }

HRESULT CheckedFileStream::LockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) { return STG_E_INVALIDFUNCTION; }

HRESULT CheckedFileStream::UnlockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) { return STG_E_INVALIDFUNCTION; }

HRESULT CheckedFileStream::Stat(STATSTG* stat, DWORD) {
  if (!stat) return STG_E_INVALIDPOINTER;
  ZeroMemory(stat, sizeof *stat);
  stat->type = STGTY_STREAM;
  ULONGLONG length = 0;
  if (!Length(&length)) return STG_E_ACCESSDENIED;
  stat->cbSize.QuadPart = length;
  stat->grfMode = STGM_READWRITE;
  return S_OK;
}

HRESULT CheckedFileStream::Clone(IStream** out) {
  if (out) *out = nullptr;
  return E_NOTIMPL;
}
