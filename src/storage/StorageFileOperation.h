#pragma once

#include <filesystem>
#include <functional>

namespace tarpelix {

enum class StorageFileOperation { writeImage, deleteFile };

// Called just before the store writes a retained image (with the temporary file's path) or
// removes a file; throwing vetoes the change. The application passes none.
using StorageFileHook = std::function<void(StorageFileOperation, const std::filesystem::path&)>;

} // namespace tarpelix
