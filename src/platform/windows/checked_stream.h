// A file as the IStream WIC's encoders write into, with every write checked. The first write
// that fails (a full disk) makes every later one fail too, so nothing lands in the file after
// a hole; the writer asks Failed() once the encoder is done, whatever the encoder answered
// (Wine's TIFF encoder reports success after failed writes).
//
// A checkpoint remembers the file as it is; Rollback() returns it there: the bytes written
// over below that length since are put back (a write over old bytes needs no new room on the
// disk) and the file is cut to its length at the checkpoint. A book sets a checkpoint where
// its file is complete, so that a failure later leaves it complete.
//
// No method throws: the encoders calling them are C.
#pragma once
#include <objidl.h>
#include <windows.h>

#include <vector>

// Test hook: the disk takes `bytes` more (beyond the ends of the files these streams write),
// then every write that needs room fails as on a full disk; negative: as much as it has.
void SetStreamRoomForTests(long long bytes);

class CheckedFileStream final : public IStream {
 public:
  // A stream without a file, or null when there is no memory for it. The caller holds one
  // reference.
  static CheckedFileStream* New();
  // Creates the file (an existing one is replaced), for writing and reading back: false when
  // it cannot be created.
  bool Open(const char* name);

  bool Failed() const { return failed_; }
  // Whether the failure was memory for keeping the bytes a write covered, not the disk.
  bool OutOfMemory() const { return noMemory_; }
  // Every later write fails: what an encoder still writes while it is released is kept out.
  void StopWrites() { stopped_ = true; }
  void Checkpoint();
  // False when the file could not be returned to the checkpoint.
  bool Rollback();
  // Closes the file: false when the close failed (the system's last writes).
  bool Close();

  // IUnknown
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override;
  ULONG STDMETHODCALLTYPE AddRef() override;
  ULONG STDMETHODCALLTYPE Release() override;
  // ISequentialStream
  HRESULT STDMETHODCALLTYPE Read(void* data, ULONG size, ULONG* done) override;
  HRESULT STDMETHODCALLTYPE Write(const void* data, ULONG size, ULONG* done) override;
  // IStream
  HRESULT STDMETHODCALLTYPE Seek(LARGE_INTEGER move, DWORD origin, ULARGE_INTEGER* position) override;
  HRESULT STDMETHODCALLTYPE SetSize(ULARGE_INTEGER size) override;
  HRESULT STDMETHODCALLTYPE CopyTo(IStream*, ULARGE_INTEGER, ULARGE_INTEGER*, ULARGE_INTEGER*) override;
  HRESULT STDMETHODCALLTYPE Commit(DWORD) override;
  HRESULT STDMETHODCALLTYPE Revert() override;
  HRESULT STDMETHODCALLTYPE LockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override;
  HRESULT STDMETHODCALLTYPE UnlockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override;
  HRESULT STDMETHODCALLTYPE Stat(STATSTG* stat, DWORD flags) override;
  HRESULT STDMETHODCALLTYPE Clone(IStream** out) override;

 private:
  CheckedFileStream() = default;
  ~CheckedFileStream();
  CheckedFileStream(const CheckedFileStream&) = delete;
  CheckedFileStream& operator=(const CheckedFileStream&) = delete;

  bool Position(ULONGLONG* at) const;
  bool MoveTo(ULONGLONG at) const;
  bool Length(ULONGLONG* size) const;
  // Keeps the bytes a write at `at` of `size` bytes covers below the checkpoint's length.
  bool Save(ULONGLONG at, ULONG size);
  HRESULT Refuse();

  struct Saved {
    ULONGLONG at;
    std::vector<BYTE> bytes;
  };
  HANDLE file_ = INVALID_HANDLE_VALUE;
  LONG refs_ = 1;
  bool failed_ = false;
  bool noMemory_ = false;
  bool stopped_ = false;
  DWORD error_ = 0;  // the first failed write's error
  ULONGLONG checkpoint_ = 0;
  std::vector<Saved> saved_;
};
