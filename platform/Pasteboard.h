// Named pasteboards that outlive the process and are shared by every process of the user that
// uses the same app root: data per type, one file per pasteboard and type.
//
// Layout: <AppFolders::root()>/Pasteboards/<name>/<type>, where the name and the type are
// escaped into single file names (letters, digits, "-", "_" and "." stand as they are, every
// other byte as %XX, a leading "." too), so no name or type reaches outside its folder. A
// pasteboard's folder holds a ".lock" file, locked while data is written, and a ".persistent"
// marker once it is made persistent. Each write goes to a temporary file and is renamed into
// place under the lock, so a reader in any process sees one whole value, never a mix.
#pragma once

#include <filesystem>
#include <memory>
#include <optional>
#include <string>

#include "platform/Error.h"
#include "platform/Value.h"

namespace platform {

class Pasteboard {
  public:
    // The pasteboard of that name. With create false, nothing when no process has created
    // it; nothing is made on disk then.
    static std::shared_ptr<Pasteboard> pasteboardWithName(const std::string& name, bool create);

    // The folder that holds every pasteboard.
    static std::filesystem::path folder();

    const std::string& name() const { return name_; }

    bool persistent() const;
    bool setPersistent(bool persistent, Error* error = nullptr);

    // The data last set for the type by any process, or nothing.
    std::optional<Bytes> dataForPasteboardType(const std::string& type) const;
    bool setData(const Bytes& data, const std::string& type, Error* error = nullptr);

  private:
    Pasteboard(std::string name, std::filesystem::path path);

    std::string name_;
    std::filesystem::path path_;
};

}  // namespace platform
