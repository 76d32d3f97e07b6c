// builtins/packages/package_builtins.cpp
// The package built-ins over a table of open packages.
#include "builtins/packages/package_builtins.h"

#include <cstring>
#include <memory>
#include <optional>
#include <string>

#include "builtins/files/file_arguments.h"
#include "builtins/handles/handle_table.h"
#include "builtins/operators/operator_values.h"
#include "builtins/packages/package_file.h"
#include "builtins/texts/text_arguments.h"
#include "platform/files.h"
#include "platform/memory.h"
#include "runtime/data/file_routines.h"

namespace qob {
namespace {

HandleTable<Package>& Packages() {
    static HandleTable<Package> table;
    return table;
}

Package* PackageArgument(const StackEntry& handle) { return Packages().Find(ArgumentInteger(handle)); }

void OpenAndPush(bool lazy) {
    StackEntry passwordArgument = TakeOperand();
    StackEntry pathArgument = TakeOperand();
    auto package = std::make_unique<Package>();
    const PackageStatus status =
        Package::Open(StringArgument(pathArgument), StringArgument(passwordArgument), lazy, *package);
    ReleaseOperand(pathArgument);
    ReleaseOperand(passwordArgument);
    PushNumberResult(status == PackageStatus::Ok ? Packages().Add(std::move(package)) : 0);
}

// Pops (handle, name) and pushes answer(package, lower-cased name), or 0 for
// a handle that is not open.
template <typename Answer>
void AnswerForMember(Answer answer) {
    StackEntry nameArgument = TakeOperand();
    StackEntry handle = TakeOperand();
    Package* package = PackageArgument(handle);
    const double result = package ? answer(*package, LowerMemberName(StringArgument(nameArgument))) : 0.0;
    ReleaseOperand(handle);
    ReleaseOperand(nameArgument);
    PushNumberResult(result);
}

void AddFile(Package* package, const std::string& filePath, const std::string& name) {
    if (!package || package->IsLazy()) return;
    const std::optional<std::string> bytes = platform::ReadFileBytes(filePath);
    if (!bytes) return;
    package->Add(LowerMemberName(name), {reinterpret_cast<const uint8_t*>(bytes->data()), bytes->size()});
}

// A new block of the member's bytes and zero bytes after them, or null.
void* MemberBlock(const Package& package, const PackageMember& member, size_t zeros) {
    const std::optional<std::vector<uint8_t>> bytes = package.Read(member);
    if (!bytes) return nullptr;
    auto* block = static_cast<uint8_t*>(platform::AllocateZeroedBlock(bytes->size() + zeros));
    if (block && !bytes->empty()) std::memcpy(block, bytes->data(), bytes->size());
    return block;
}

void LoadMember(bool wide) {
    StackEntry sizeVariable = TakeOperand();
    StackEntry nameArgument = TakeOperand();
    StackEntry handle = TakeOperand();
    Package* package = PackageArgument(handle);
    const PackageMember* member = package ? package->Find(LowerMemberName(StringArgument(nameArgument))) : nullptr;
    // A UTF-16 reader needs a whole zero unit after the bytes: for an odd
    // size that takes three zero bytes.
    const size_t zeros = !wide ? 1 : member && member->size % 2 ? 3 : 2;
    void* block = member ? MemberBlock(*package, *member, zeros) : nullptr;
    StoreOutputNumber(sizeVariable, block ? member->size : 0);
    ReleaseOperand(handle);
    ReleaseOperand(nameArgument);
    ReleaseOperand(sizeVariable);
    if (block) PushTextResult(block, wide);
    else PushNumberResult(0.0);
}

// A text argument, or a number as its text; the number 0 stands for none.
std::optional<std::string> OptionalText(const StackEntry& argument) {
    if (!IsText(argument) && argument.value == 0.0) return std::nullopt;
    return StringArgument(argument);
}

// The first "temp.N" of the application directory that does not exist yet.
std::string FreeTemporaryPath() {
    const std::string directory = ApplicationDirectory();
    for (int number = 0;; ++number) {
        std::string path = directory + "temp." + std::to_string(number);
        if (!platform::FileExists(path)) return path;
    }
}

}  // namespace

size_t CountOpenPackages() { return Packages().Count(); }

void Builtin_openpackage() { OpenAndPush(false); }
void Builtin_openpackageex() { OpenAndPush(true); }

void Builtin_closepackage() {
    StackEntry handle = TakeOperand();
    const std::unique_ptr<Package> package = Packages().Remove(ArgumentInteger(handle));
    ReleaseOperand(handle);
    if (package && package->IsChanged()) static_cast<void>(package->Save(std::nullopt, std::nullopt));
}

void Builtin_addfiletopackage() {
    StackEntry pathArgument = TakeOperand();
    StackEntry handle = TakeOperand();
    const std::string path = StringArgument(pathArgument);
    AddFile(PackageArgument(handle), path, ExtractFileName(path));
    ReleaseOperand(handle);
    ReleaseOperand(pathArgument);
}

void Builtin_addfiletopackageex() {
    StackEntry nameArgument = TakeOperand();
    StackEntry pathArgument = TakeOperand();
    StackEntry handle = TakeOperand();
    AddFile(PackageArgument(handle), StringArgument(pathArgument), StringArgument(nameArgument));
    ReleaseOperand(handle);
    ReleaseOperand(pathArgument);
    ReleaseOperand(nameArgument);
}

void Builtin_extractfilefrompackage() {
    StackEntry nameArgument = TakeOperand();
    StackEntry handle = TakeOperand();
    Package* package = PackageArgument(handle);
    const PackageMember* member = package ? package->Find(StringArgument(nameArgument)) : nullptr;
    ReleaseOperand(handle);
    ReleaseOperand(nameArgument);
    if (member) {
        const std::string path = FreeTemporaryPath();
        if (package->WriteMember(*member, platform::ToHostPath(path))) return PushStringResult(path);
    }
    PushNumberResult(0.0);
}

void Builtin_extractfilefrompackageex() {
    StackEntry destinationArgument = TakeOperand();
    StackEntry nameArgument = TakeOperand();
    StackEntry handle = TakeOperand();
    Package* package = PackageArgument(handle);
    const PackageMember* member = package ? package->Find(StringArgument(nameArgument)) : nullptr;
    if (member) {
        const std::optional<std::string> destination = platform::ResolvePathForWrite(StringArgument(destinationArgument));
        if (destination) static_cast<void>(package->WriteMember(*member, *destination));
    }
    ReleaseOperand(handle);
    ReleaseOperand(nameArgument);
    ReleaseOperand(destinationArgument);
}

void Builtin_deletefilefrompackage() {
    StackEntry nameArgument = TakeOperand();
    StackEntry handle = TakeOperand();
    if (Package* package = PackageArgument(handle)) package->Delete(LowerMemberName(StringArgument(nameArgument)));
    ReleaseOperand(handle);
    ReleaseOperand(nameArgument);
}

void Builtin_packagefileexists() {
    AnswerForMember([](Package& package, const std::string& name) { return package.Find(name) ? 1.0 : 0.0; });
}

void Builtin_packagefilesize() {
    AnswerForMember([](Package& package, const std::string& name) {
        const PackageMember* member = package.Find(name);
        return member ? static_cast<double>(member->size) : 0.0;
    });
}

void Builtin_loadpackagefile() { LoadMember(false); }
void Builtin_wloadpackagefile() { LoadMember(true); }

void Builtin_packagefiles() {
    StackEntry listArgument = TakeOperand();
    StackEntry handle = TakeOperand();
    Package* package = PackageArgument(handle);
    size_t count = 0;
    if (package) {
        std::vector<std::string> names;
        for (const PackageMember& member : package->Members()) names.push_back(member.name);
        count = names.size();
        StoreTextList(listArgument, names, true);
    }
    ReleaseOperand(handle);
    ReleaseOperand(listArgument);
    PushNumberResult(static_cast<double>(count));
}

void Builtin_packagechanged() {
    StackEntry handle = TakeOperand();
    Package* package = PackageArgument(handle);
    ReleaseOperand(handle);
    PushNumberResult(package && package->IsChanged() ? 1.0 : 0.0);
}

void Builtin_savepackage() {
    StackEntry keyArgument = TakeOperand();
    StackEntry pathArgument = TakeOperand();
    StackEntry handle = TakeOperand();
    if (Package* package = PackageArgument(handle)) {
        const std::optional<std::string> path = OptionalText(pathArgument);
        const std::optional<std::string> key = OptionalText(keyArgument);
        static_cast<void>(package->Save(path, key));
    }
    ReleaseOperand(handle);
    ReleaseOperand(pathArgument);
    ReleaseOperand(keyArgument);
}

}  // namespace qob
