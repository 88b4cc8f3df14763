#include "platform/system_log.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>

#include "platform/signal_safe_text.h"

namespace platform {

void report_system_error(std::string_view text, const char* socket_path) noexcept {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (std::strlen(socket_path) >= sizeof address.sun_path) {
        return;
    }
    std::memcpy(address.sun_path, socket_path, std::strlen(socket_path) + 1);

    // Facility user, severity error; the identity of the event leads the text.
    SignalSafeText<2048> record;
    record.append("<11>Nimbra[")
        .append_decimal(static_cast<uint64_t>(getpid()))
        .append("]: event 0xC0000004: ")
        .append(text);

    const int fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return;
    }
    // The socket interface takes every address family as a sockaddr.
    // NOLINTNEXTLINE(cppcoreguidelines-pro-type-reinterpret-cast)
    const auto* target = reinterpret_cast<const sockaddr*>(&address);
    (void)sendto(fd, record.data(), record.size(), MSG_NOSIGNAL, target, sizeof address);
    close(fd);
}

}  // namespace platform
