// Who hears where a call's page files stand (pages/destination_platform.h, NotePageFiles): in
// the extension's DLL nobody; in kv-worker.exe the worker, which tells its extension in the host.
#pragma once
#include <cstdint>
#include <string>

namespace platform {

using PageFilesListener = void (*)(const std::string& underWay, uint32_t kept);
void ListenToPageFiles(PageFilesListener listener);

}  // namespace platform
