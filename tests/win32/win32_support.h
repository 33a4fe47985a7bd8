// Test support on Windows: the built plug-ins and test data beside the test
// program, temporary folders, and a plug-in DLL loaded as a host loads it.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "contract/kx_plugin.h"

// Full path of a built plug-in, e.g. PluginPath("markhound.dll").
std::string PluginPath(const std::string& file_name);
// Full path of a file of the test data copied beside the test program.
std::string DataPath(const std::string& file_name);
// The whole content of a file; empty when it cannot be read.
std::vector<uint8_t> ReadWholeFile(const std::string& path);

// A fresh folder below the temporary folder, removed with its content at
// destruction.
class TempFolder {
public:
    TempFolder();
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;
    const std::string& path() const { return path_; }
    // Writes a file below the folder, making its subfolders; returns its path.
    // relative uses backslashes.
    std::string Write(const std::string& relative, const std::string& content) const;
    // Copies a file into the folder under its own name; returns the new path.
    std::string CopyIn(const std::string& from) const;

private:
    std::string path_;
};

// A DLL loaded with LoadLibraryA and freed at destruction.
class LoadedDll {
public:
    explicit LoadedDll(const std::string& path);
    ~LoadedDll();
    LoadedDll(const LoadedDll&) = delete;
    LoadedDll& operator=(const LoadedDll&) = delete;

    void* handle() const { return handle_; }
    void* ByName(const char* name) const;
    void* ByOrdinal(uint16_t ordinal) const;
    KX_QueryInterfaceFn query() const {
        return reinterpret_cast<KX_QueryInterfaceFn>(ByName(KX_QUERY_INTERFACE_NAME));
    }

private:
    void* handle_ = nullptr;
};

// A fixture with a plug-in DLL loaded, its record queried and initialized,
// and finalized at the end of each test.
class PluginHostTest : public ::testing::Test {
protected:
    explicit PluginHostTest(const char* dll_name) : dll_(PluginPath(dll_name)) {}
    void SetUp() override {
        ASSERT_NE(dll_.handle(), nullptr);
        ASSERT_NE(dll_.query(), nullptr);
        record_ = dll_.query()(dll_.handle());
        ASSERT_NE(record_, nullptr);
        ASSERT_EQ(record_->Initialize(0, 0), 1u);
    }
    void TearDown() override {
        if (record_ != nullptr) record_->Finalize(0);
    }

    LoadedDll dll_;
    const PluginInterface* record_ = nullptr;
};

// What the PE headers of a loaded module say about its exports and imports.
struct ExportEntry {
    uint32_t ordinal;
    std::string name;  // empty for an export by ordinal only
};
std::vector<ExportEntry> ModuleExports(void* module);
std::vector<std::string> ModuleImports(void* module);
