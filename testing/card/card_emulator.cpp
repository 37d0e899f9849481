// A CAC smart card for tests. libcacard emulates the card from an NSS
// database (whose password is the card's PIN); this program plugs it into
// pcscd's virtual reader vpcd (vsmartcard) over TCP, as a card in a reader.
//
//   tarvona-card-emulator --db DIR --cert NICKNAME [--cert NICKNAME...]
//                         [--port PORT] [--wait SECONDS]
//
// vpcd listens on PORT; we connect to 127.0.0.1. Each message either way is
// a 2-byte big-endian length and its payload. From vpcd a 1-byte payload is
// a control code (0 power off, 1 power on, 2 reset, 4 send the ATR), a
// longer one a command APDU; we answer the ATR and every APDU. When vpcd
// closes the connection (pcscd ending), we connect again as soon as it
// listens again; the program ends when it does not within SECONDS.
#include <arpa/inet.h>
#include <errno.h>
#include <libcacard.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>
#include <string>
#include <vector>

namespace {

constexpr char kReaderName[] = "Tarvona Card";
constexpr size_t kMaxMessage = 0xFFFF;

class Socket {
 public:
  Socket() = default;
  explicit Socket(int fd) : fd_(fd) {}
  Socket(const Socket&) = delete;
  Socket& operator=(const Socket&) = delete;
  Socket(Socket&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }
  Socket& operator=(Socket&& other) noexcept {
    std::swap(fd_, other.fd_);
    return *this;
  }
  ~Socket() {
    if (fd_ >= 0) close(fd_);
  }
  int get() const { return fd_; }

 private:
  int fd_ = -1;
};

double Now() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

// vpcd may still be starting: retry a refused connection until the deadline.
Socket Connect(uint16_t port, double wait_seconds) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  const double deadline = Now() + wait_seconds;
  for (;;) {
    Socket socket_fd(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (socket_fd.get() < 0) return {};
    if (connect(socket_fd.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
      int on = 1;
      setsockopt(socket_fd.get(), IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
      return socket_fd;
    }
    if ((errno != ECONNREFUSED && errno != EINTR) || Now() > deadline) return {};
    usleep(10 * 1000);
  }
}

// Reads exactly `size` bytes; false on the peer's end or an error.
bool ReadFully(int fd, uint8_t* data, size_t size) {
  while (size > 0) {
    ssize_t got = read(fd, data, size);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return false;
    data += got;
    size -= static_cast<size_t>(got);
  }
  // Quick acknowledgement is not sticky: without it every APDU waits for
  // the delayed ACK (about 40 ms) before vpcd sends the next one.
  int on = 1;
  setsockopt(fd, IPPROTO_TCP, TCP_QUICKACK, &on, sizeof on);
  return true;
}

// Length and payload go out in one write, so vpcd never waits on half a message.
bool Send(int fd, const uint8_t* payload, size_t size) {
  if (size > kMaxMessage) return false;
  std::vector<uint8_t> message(2 + size);
  message[0] = static_cast<uint8_t>(size >> 8);
  message[1] = static_cast<uint8_t>(size);
  if (size > 0) std::memcpy(message.data() + 2, payload, size);
  size_t sent = 0;
  while (sent < message.size()) {
    ssize_t put = send(fd, message.data() + sent, message.size() - sent, MSG_NOSIGNAL);
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) return false;
    sent += static_cast<size_t>(put);
  }
  return true;
}

// Answers vpcd until it closes the connection (or a reply cannot be sent).
void Serve(int vpcd, VReader* reader, unsigned char* atr, size_t atr_size) {
  std::vector<uint8_t> request(kMaxMessage);
  std::vector<uint8_t> response(kMaxMessage);
  for (;;) {
    uint8_t header[2];
    if (!ReadFully(vpcd, header, sizeof header)) return;
    size_t size = static_cast<size_t>(header[0]) << 8 | header[1];
    if (!ReadFully(vpcd, request.data(), size)) return;
    bool sent = true;
    if (size == 1) {
      int ignored = static_cast<int>(atr_size);
      switch (request[0]) {
        case 0:
          vreader_power_off(reader);
          break;
        case 1:
          vreader_power_on(reader, atr, &ignored);
          break;
        case 2:
          vreader_power_off(reader);
          vreader_power_on(reader, atr, &ignored);
          break;
        case 4:
          sent = Send(vpcd, atr, atr_size);
          break;
        default:
          break;
      }
    } else if (size > 1) {
      int answer_size = static_cast<int>(response.size());
      if (vreader_xfr_bytes(reader, request.data(), static_cast<int>(size), response.data(),
                            &answer_size) != VREADER_OK ||
          answer_size < 2) {
        static const uint8_t kNoPreciseDiagnosis[] = {0x6F, 0x00};
        sent = Send(vpcd, kNoPreciseDiagnosis, sizeof kNoPreciseDiagnosis);
      } else {
        sent = Send(vpcd, response.data(), static_cast<size_t>(answer_size));
      }
    }
    if (!sent) return;
  }
}

int Usage() {
  std::fprintf(stderr,
               "usage: tarvona-card-emulator --db DIR --cert NICKNAME [--cert NICKNAME...] "
               "[--port PORT] [--wait SECONDS]\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  std::string db;
  std::vector<std::string> certificates;
  long port = 0x8C7B;  // vpcd's own default
  double wait_seconds = 10;
  for (int i = 1; i + 1 < argc; i += 2) {
    std::string option = argv[i];
    if (option == "--db") {
      db = argv[i + 1];
    } else if (option == "--cert") {
      certificates.emplace_back(argv[i + 1]);
    } else if (option == "--port") {
      port = std::strtol(argv[i + 1], nullptr, 0);
    } else if (option == "--wait") {
      wait_seconds = std::strtod(argv[i + 1], nullptr);
    } else {
      return Usage();
    }
  }
  if (argc % 2 == 0 || db.empty() || certificates.empty() || certificates.size() > 3 ||
      port <= 0 || port > 0xFFFF) {
    return Usage();
  }

  // libcacard's option text: separate tokens, no hardware, one soft reader
  // holding the certificates (the empty slot name is NSS's key slot).
  std::string options = "use_hw=no db=\"sql:" + db + "\" soft=(," + kReaderName + ",CAC,";
  for (const auto& nickname : certificates) options += "," + nickname;
  options += ")";
  VCardEmulOptions* parsed = vcard_emul_options(options.c_str());
  if (parsed == nullptr || vcard_emul_init(parsed) != VCARD_EMUL_OK) {
    std::fprintf(stderr, "card emulator: libcacard refused \"%s\"\n", options.c_str());
    return 1;
  }
  VReader* reader = vreader_get_reader_by_name(kReaderName);
  if (reader == nullptr || vreader_card_is_present(reader) != VREADER_OK) {
    std::fprintf(stderr, "card emulator: no card (are the certificates %s in sql:%s?)\n",
                 certificates.front().c_str(), db.c_str());
    return 1;
  }
  unsigned char atr[64];
  int atr_size = sizeof atr;
  if (vreader_power_on(reader, atr, &atr_size) != VREADER_OK) {
    std::fprintf(stderr, "card emulator: the card does not power on\n");
    return 1;
  }

  // A card stays in its reader while pcscd restarts: when vpcd closes the
  // connection, the card is powered off and plugged in again as soon as vpcd
  // listens again. Only a vpcd that does not come back within the wait ends
  // the program.
  for (bool first = true;; first = false) {
    Socket vpcd = Connect(static_cast<uint16_t>(port), wait_seconds);
    if (vpcd.get() < 0) {
      if (!first) break;
      std::fprintf(stderr, "card emulator: no vpcd on 127.0.0.1:%ld: %s\n", port,
                   std::strerror(errno));
      vreader_free(reader);
      return 1;
    }
    Serve(vpcd.get(), reader, atr, static_cast<size_t>(atr_size));
    vreader_power_off(reader);
  }
  vreader_free(reader);
  return 0;
}
