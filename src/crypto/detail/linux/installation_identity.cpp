#include "crypto/detail/linux/installation_identity.hpp"

#include "crypto/detail/linux/dbus_call_property.hpp"
#include "crypto/detail/linux/resolve_mapper_slaves.hpp"
#include "crypto/detail/linux/set_errno_arguments.hpp"
#include "crypto/detail/linux/starts_with.hpp"
#include "crypto/log.hpp"
#include "crypto/status.hpp"

#include <algorithm>
#include <array>
#include <cerrno>
#include <charconv>
#include <memory>
#include <set>

#include <libmount/libmount.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kelvra::crypto::detail::linux {

namespace core = brano::core::v6;

namespace {

constexpr char udisks_service[] = "org.freedesktop.UDisks2";
constexpr char block_devices_path[] = "/org/freedesktop/UDisks2/block_devices/";
constexpr char properties_interface[] = "org.freedesktop.DBus.Properties";

struct table_release {
    void operator()(libmnt_table* table) const noexcept { mnt_unref_table(table); }
};
struct iterator_release {
    void operator()(libmnt_iter* iterator) const noexcept { mnt_free_iter(iterator); }
};

void report_internal(std::string const& description, int error, core::result::stack& status) {
    core::result::stack local;
    set_errno_arguments(
        local.push_item(status::device_category::instance(), status::device_category::internal),
        description, error);
    status = std::move(local);
}

std::string device_id_text(dev_t device) {
    std::array<char, 32> text{};
    auto const [end, error] = std::to_chars(text.data(), text.data() + text.size(), device);
    return error == std::errc() ? std::string(text.data(), end) : std::string("unknow");
}

std::string get_property(std::string const& object_path, char const* interface,
                         char const* property, dbus_value::kind expected,
                         core::result::stack& status) {
    dbus_method_call call;
    call.destination = udisks_service;
    call.path = object_path;
    call.interface = properties_interface;
    call.method = "Get";
    call.arguments = {{dbus_value::string, interface}, {dbus_value::string, property}};
    dbus_value const value = dbus_call_property(call, status);
    if (status.has_failed()) {
        return {};
    }
    return dbus_value_text(value, expected, status);
}

} // namespace

std::string read_program_path(std::string const& link, std::size_t capacity,
                              core::result::stack& status) {
    std::string buffer(capacity, '\0');
    ssize_t const length = ::readlink(link.c_str(), buffer.data(), buffer.size());
    if (length < 0) {
        int const error = errno;
        report_internal("readlink() returned -1", error, status);
        return {};
    }
    // readlink() fills the whole buffer when the target does not fit, and
    // never terminates it: a target that leaves no room for the terminating
    // zero may have been cut.
    if (static_cast<std::size_t>(length) >= capacity) {
        report_internal("readlink() returned a path that does not fit in " +
                            std::to_string(capacity) + " bytes",
                        ENAMETOOLONG, status);
        return {};
    }
    buffer.resize(static_cast<std::size_t>(length));
    return buffer;
}

std::vector<mount_entry> read_mount_table(std::string const& mountinfo,
                                          core::result::stack& status) {
    errno = 0;
    std::unique_ptr<libmnt_table, table_release> const table(
        mnt_new_table_from_file(mountinfo.c_str()));
    if (!table) {
        int const error = errno;
        report_internal("mnt_new_table_from_file() returned nullptr", error, status);
        return {};
    }
    std::unique_ptr<libmnt_iter, iterator_release> const iterator(mnt_new_iter(MNT_ITER_FORWARD));
    if (!iterator) {
        int const error = errno;
        report_internal("mnt_new_iter() returned nullptr", error, status);
        return {};
    }
    // A plain walk over the table: nothing here may mount anything.
    std::vector<mount_entry> entries;
    libmnt_fs* fs = nullptr;
    int step = 0;
    while ((step = mnt_table_next_fs(table.get(), iterator.get(), &fs)) == 0) {
        dev_t const device = mnt_fs_get_devno(fs);
        char const* source = mnt_fs_get_srcpath(fs);
        if (source == nullptr) {
            core::result::stack local;
            local
                .push_item(status::device_category::instance(),
                           status::device_category::invalid_path)
                .set_argument("source-path", "nullptr");
            status = std::move(local);
            return {};
        }
        if (device == 0) {
            core::result::stack local;
            local
                .push_item(status::device_category::instance(),
                           status::device_category::invalid_device_id)
                .set_argument("device-id", device_id_text(device));
            status = std::move(local);
            return {};
        }
        entries.push_back({device, source});
    }
    if (step < 0) {
        report_internal("mnt_table_next_fs() returned < 0", -step, status);
        return {};
    }
    return entries;
}

std::string block_device_object_path(std::string const& name) {
    return block_devices_path + escape_object_path_element(name);
}

namespace {

std::string compute_identity(system_paths const& paths, identity_trace* trace,
                             core::result::stack& status) {
    core::result::stack local;
    std::string const program =
        read_program_path(paths.program_link, paths.program_link_capacity, local);
    if (local.has_failed()) {
        status = std::move(local);
        return {};
    }
    if (trace != nullptr) {
        trace->program = program;
    }
    // The link itself, not the path read from it: once the program file was
    // replaced or removed (installing again over a running copy) that path
    // reads ".../kelvra (deleted)", while the kernel's link still leads to
    // the running file.
    struct stat program_stat {};
    if (::stat(paths.program_link.c_str(), &program_stat) != 0) {
        int const error = errno;
        report_internal("stat() returned -1", error, status);
        return {};
    }

    std::vector<mount_entry> const entries = read_mount_table(paths.mountinfo, local);
    if (local.has_failed()) {
        status = std::move(local);
        return {};
    }
    auto const entry =
        std::find_if(entries.begin(), entries.end(), [&](mount_entry const& candidate) {
            return candidate.device == program_stat.st_dev;
        });
    if (entry == entries.end()) {
        local.push_item(status::device_category::instance(), status::device_category::not_found);
        status = std::move(local);
        return {};
    }
    if (trace != nullptr) {
        trace->found_mount = true;
        trace->mount = *entry;
    }

    std::vector<std::string> devices;
    if (starts_with(entry->source_path, paths.dev_mapper)) {
        std::vector<block_device> const slaves =
            resolve_mapper_slaves(entry->source_path, paths, local);
        if (local.has_failed()) {
            status = std::move(local);
            return {};
        }
        for (auto const& slave : slaves) {
            devices.push_back(slave.name);
        }
    } else {
        devices.push_back(entry->source_path);
    }
    if (trace != nullptr) {
        trace->block_devices = devices;
    }

    std::set<std::string> serials;
    for (auto const& device : devices) {
        std::string const name =
            starts_with(device, paths.dev) ? device.substr(paths.dev.size()) : device;
        drive_record record;
        record.block_device = name;
        record.block_object_path = block_device_object_path(name);
        record.drive_object_path =
            get_property(record.block_object_path, "org.freedesktop.UDisks2.Block", "Drive",
                         dbus_value::object_path, local);
        if (!local.has_failed()) {
            record.serial = get_property(record.drive_object_path, "org.freedesktop.UDisks2.Drive",
                                         "Serial", dbus_value::string, local);
        }
        if (trace != nullptr) {
            trace->drives.push_back(record);
        }
        if (local.has_failed()) {
            qCDebug(log, "installation identity: no drive serial for a block device");
            status = std::move(local);
            return {};
        }
        serials.insert(record.serial);
    }

    std::string identity;
    bool first = true;
    for (auto const& serial : serials) {
        if (!first) {
            identity += '|';
        }
        identity += serial;
        first = false;
    }
    return identity;
}

} // namespace

} // namespace kelvra::crypto::detail::linux

namespace kelvra::crypto {

std::string get_installation_identity(system_paths const& paths, identity_trace* trace,
                                      brano::core::v6::result::stack& status) {
    return detail::linux::compute_identity(paths, trace, status);
}

std::string get_installation_identity(brano::core::v6::result::stack& status) {
    return detail::linux::compute_identity(system_paths{}, nullptr, status);
}

} // namespace kelvra::crypto
