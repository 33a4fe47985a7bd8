// Windows test support: paths from the test program's own location, temporary
// folders, and the export and import tables read from a module's PE headers.
#include "tests/win32/win32_support.h"

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <cstdio>

namespace {

std::string ProgramFolder() {
    char path[MAX_PATH + 1] = {};
    DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string folder(path, length);
    return folder.substr(0, folder.find_last_of('\\') + 1);
}

std::string Backslashed(std::string path) {
    for (char& c : path) {
        if (c == '/') c = '\\';
    }
    return path;
}

void RemoveTree(const std::string& folder) {
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((folder + "\\*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            const std::string name = found.cFileName;
            if (name == "." || name == "..") continue;
            const std::string path = folder + "\\" + name;
            if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                RemoveTree(path);
            } else {
                DeleteFileA(path.c_str());
            }
        } while (FindNextFileA(search, &found));
        FindClose(search);
    }
    RemoveDirectoryA(folder.c_str());
}

template <typename T>
const T* At(const uint8_t* base, DWORD rva) {
    return reinterpret_cast<const T*>(base + rva);
}

const IMAGE_DATA_DIRECTORY& Directory(void* module, int index) {
    const auto* base = static_cast<const uint8_t*>(module);
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    const auto* nt = At<IMAGE_NT_HEADERS32>(base, dos->e_lfanew);
    return nt->OptionalHeader.DataDirectory[index];
}

}  // namespace

std::string PluginPath(const std::string& file_name) {
    return ProgramFolder() + Backslashed(HOUND_PLUGIN_DIR_FROM_TESTS) + "\\" + file_name;
}

std::string DataPath(const std::string& file_name) {
    return ProgramFolder() + Backslashed(HOUND_WIN32_DATA_FROM_TESTS) + "\\" + file_name;
}

std::vector<uint8_t> ReadWholeFile(const std::string& path) {
    std::vector<uint8_t> bytes;
    FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) return bytes;
    uint8_t chunk[4096];
    size_t n;
    while ((n = std::fread(chunk, 1, sizeof chunk, file)) > 0) bytes.insert(bytes.end(), chunk, chunk + n);
    std::fclose(file);
    return bytes;
}

TempFolder::TempFolder() {
    char base[MAX_PATH + 1] = {};
    GetTempPathA(MAX_PATH, base);
    static unsigned serial = 0;
    for (;;) {
        char name[64];
        std::snprintf(name, sizeof name, "hound-%lu-%u", GetCurrentProcessId(), serial++);
        path_ = std::string(base) + name;
        if (CreateDirectoryA(path_.c_str(), nullptr)) break;
    }
}

TempFolder::~TempFolder() { RemoveTree(path_); }

std::string TempFolder::Write(const std::string& relative, const std::string& content) const {
    const std::string path = path_ + "\\" + relative;
    for (size_t slash = relative.find('\\'); slash != std::string::npos;
         slash = relative.find('\\', slash + 1)) {
        CreateDirectoryA((path_ + "\\" + relative.substr(0, slash)).c_str(), nullptr);
    }
    FILE* file = std::fopen(path.c_str(), "wb");
    if (file != nullptr) {
        std::fwrite(content.data(), 1, content.size(), file);
        std::fclose(file);
    }
    return path;
}

std::string TempFolder::CopyIn(const std::string& from) const {
    const std::string to = path_ + "\\" + from.substr(from.find_last_of('\\') + 1);
    CopyFileA(from.c_str(), to.c_str(), FALSE);
    return to;
}

LoadedDll::LoadedDll(const std::string& path) : handle_(LoadLibraryA(path.c_str())) {}

LoadedDll::~LoadedDll() {
    if (handle_ != nullptr) FreeLibrary(static_cast<HMODULE>(handle_));
}

void* LoadedDll::ByName(const char* name) const {
    if (handle_ == nullptr) return nullptr;
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(handle_), name));
}

void* LoadedDll::ByOrdinal(uint16_t ordinal) const {
    if (handle_ == nullptr) return nullptr;
    return reinterpret_cast<void*>(
        GetProcAddress(static_cast<HMODULE>(handle_), MAKEINTRESOURCEA(ordinal)));
}

std::vector<ExportEntry> ModuleExports(void* module) {
    std::vector<ExportEntry> exports;
    const IMAGE_DATA_DIRECTORY& directory = Directory(module, IMAGE_DIRECTORY_ENTRY_EXPORT);
    if (directory.VirtualAddress == 0) return exports;
    const auto* base = static_cast<const uint8_t*>(module);
    const auto* table = At<IMAGE_EXPORT_DIRECTORY>(base, directory.VirtualAddress);
    const auto* names = At<DWORD>(base, table->AddressOfNames);
    const auto* name_ordinals = At<WORD>(base, table->AddressOfNameOrdinals);
    const auto* functions = At<DWORD>(base, table->AddressOfFunctions);
    for (DWORD index = 0; index < table->NumberOfFunctions; ++index) {
        if (functions[index] == 0) continue;
        ExportEntry entry{table->Base + index, ""};
        for (DWORD n = 0; n < table->NumberOfNames; ++n) {
            if (name_ordinals[n] == index) entry.name = At<char>(base, names[n]);
        }
        exports.push_back(entry);
    }
    return exports;
}

std::vector<std::string> ModuleImports(void* module) {
    std::vector<std::string> imports;
    const IMAGE_DATA_DIRECTORY& directory = Directory(module, IMAGE_DIRECTORY_ENTRY_IMPORT);
    if (directory.VirtualAddress == 0) return imports;
    const auto* base = static_cast<const uint8_t*>(module);
    for (const auto* entry = At<IMAGE_IMPORT_DESCRIPTOR>(base, directory.VirtualAddress);
         entry->Name != 0; ++entry) {
        imports.push_back(At<char>(base, entry->Name));
    }
    return imports;
}
