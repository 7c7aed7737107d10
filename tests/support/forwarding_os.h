// An Os that forwards every call to another; tests derive from it and
// override the calls they want to fail or observe.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/platform.h"

namespace qm::os {

class ForwardingOs : public Os {
public:
    explicit ForwardingOs(Os& inner) : inner_(inner) {}

    Result<std::vector<DirEntry>> list_dir(const std::string& d) override {
        return inner_.list_dir(d);
    }
    Result<std::vector<DirEntry>> list_dir_detailed(const std::string& d,
                                                    const std::function<bool()>& b) override {
        return inner_.list_dir_detailed(d, b);
    }
    Result<FileInfo> stat(const std::string& p) override { return inner_.stat(p); }
    Result<FileId> identity(const std::string& p) override { return inner_.identity(p); }
    Result<FileState> file_state(const std::string& p) override { return inner_.file_state(p); }
    bool exists(const std::string& p) override { return inner_.exists(p); }
    Result<bool> probe(const std::string& p) override { return inner_.probe(p); }
    Status make_dir(const std::string& p) override { return inner_.make_dir(p); }
    Status make_dir_like(const std::string& p, const std::string& m) override {
        return inner_.make_dir_like(p, m);
    }
    Status make_private_dir(const std::string& p) override { return inner_.make_private_dir(p); }
    Status remove_file(const std::string& p) override { return inner_.remove_file(p); }
    Status remove_dir(const std::string& p) override { return inner_.remove_dir(p); }
    Status make_hidden(const std::string& p) override { return inner_.make_hidden(p); }
    Result<std::string> read_file(const std::string& p) override { return inner_.read_file(p); }
    Result<std::string> read_part(const std::string& p, std::uint64_t o, std::size_t m) override {
        return inner_.read_part(p, o, m);
    }
    Status write_file(const std::string& p, std::string_view d, bool durable) override {
        return inner_.write_file(p, d, durable);
    }
    Status create_private(const std::string& p) override { return inner_.create_private(p); }
    Status append_file(const std::string& p, std::string_view d) override {
        return inner_.append_file(p, d);
    }
    Result<FileState> copy_file(const std::string& f, const std::string& t, const CopyProgress& pr,
                                bool durable) override {
        return inner_.copy_file(f, t, pr, durable);
    }
    Result<OpenDir> open_dir(const std::string& p) override { return inner_.open_dir(p); }
    Result<OpenDir> open_dir_below(const OpenDir& root, const std::string& rel) override {
        return inner_.open_dir_below(root, rel);
    }
    Result<FileInfo> stat_in(const OpenDir& d, const std::string& n) override {
        return inner_.stat_in(d, n);
    }
    Result<FileState> file_state_in(const OpenDir& d, const std::string& n) override {
        return inner_.file_state_in(d, n);
    }
    Status make_dir_like_in(const OpenDir& d, const std::string& n, const std::string& m) override {
        return inner_.make_dir_like_in(d, n, m);
    }
    Result<FileState> copy_file_in(const OpenDir& f, const std::string& fn, const OpenDir& t,
                                   const std::string& tn, const CopyProgress& pr, bool durable,
                                   FileId* made) override {
        return inner_.copy_file_in(f, fn, t, tn, pr, durable, made);
    }
    Status rename_in(const OpenDir& d, const std::string& f, const std::string& t) override {
        return inner_.rename_in(d, f, t);
    }
    Status remove_in(const OpenDir& d, const std::string& n) override {
        return inner_.remove_in(d, n);
    }
    Status remove_unchanged(const OpenDir& d, const std::string& n, const FileState& e) override {
        return inner_.remove_unchanged(d, n, e);
    }
    Status flush_files(const std::vector<std::string>& p) override { return inner_.flush_files(p); }
    Status copy_permissions(const std::string& f, const std::string& t) override {
        return inner_.copy_permissions(f, t);
    }
    Status set_mtime(const std::string& p, FileTime t) override { return inner_.set_mtime(p, t); }
    Status flush_dir(const std::string& d) override { return inner_.flush_dir(d); }
    Status rename_replace(const std::string& f, const std::string& t) override {
        return inner_.rename_replace(f, t);
    }
    std::optional<std::string> env(const std::string& n) override { return inner_.env(n); }
    Result<std::string> program_dir() override { return inner_.program_dir(); }
    Result<std::string> current_dir() override { return inner_.current_dir(); }
    Status set_current_dir(const std::string& d) override { return inner_.set_current_dir(d); }
    std::string temp_dir() override { return inner_.temp_dir(); }
    Result<std::shared_ptr<void>> lock_file(const std::string& p, bool exclusive,
                                            bool wait) override {
        return inner_.lock_file(p, exclusive, wait);
    }
    std::vector<std::string> volumes() override { return inner_.volumes(); }
    std::string volume_of(const std::string& p) override { return inner_.volume_of(p); }
    std::string volume_root(const std::string& v) override { return inner_.volume_root(v); }
    bool volume_ready(const std::string& v) override { return inner_.volume_ready(v); }
    bool volume_mounted(const std::string& p) override { return inner_.volume_mounted(p); }
    LocalTime local_time() override { return inner_.local_time(); }
    void sleep_ms(unsigned ms) override { inner_.sleep_ms(ms); }

protected:
    Os& inner_;
};

}  // namespace qm::os
