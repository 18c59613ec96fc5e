#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace devsim {

enum class Pattern { Samples, TestPattern };

struct DeviceOptions
{
    Pattern pattern = Pattern::Samples;
    int sampleRate = 1000; // samples (lines) per second in Samples mode
    int channels = 1; // comma-separated values per line in Samples mode, 1 to 64
    bool fast = false; // ignore pacing: write as fast as the pty accepts
    std::uint64_t totalBytes
        = 0; // stop streaming (device stays open) after this many bytes; 0 = no limit
    std::uint64_t hangupAfter = 0; // close the device's end after this many bytes sent, like an
                                   // unplugged adapter; 0 = never
    std::uint32_t seed = 1; // test-pattern / noise seed
    // Unplugs itself this long after it started (or came back), stays away awayMs, then comes
    // back on a new pseudo-terminal under the same links; unplugCount times, 0 = again and again.
    // 0 = only when asked (unplug(), replug()).
    std::uint64_t unplugAfterMs = 0;
    std::uint64_t awayMs = 2000;
    std::uint64_t unplugCount = 1;
    bool returnIdle = false; // comes back idle, as after a loss of power; else as it was
    // A pseudo-terminal has no USB identity: the one the device claims, and the one it claims
    // after coming back (empty: the same), for tests of the host's identity check.
    std::string identity = "tarvex-devsim";
    std::string identityOnReturn;
    bool keepSent = false; // keep a copy of every byte sent, for byte-exact checks
    std::size_t chunkBytes = 4096; // largest single write
};

// What the host has set on its end of the line, read from the terminal settings.
struct LineSettings
{
    long baudRate = 0; // bits per second, including custom (non-standard) rates
    int dataBits = 8; // 5..8; always 8 on Linux, whose ptys force CS8
    char parity = 'N'; // 'N', 'E', 'O', 'M' (mark), 'S' (space); always 'N' on Linux, whose ptys
                       // clear PARENB
    int stopBits = 1; // 1 or 2
    bool rtsCts = false; // CRTSCTS
    bool xonXoff = false; // IXON or IXOFF
};

// Something that happened on the device thread, reported to an event handler.
struct Event
{
    enum Kind { Received, StreamingOn, StreamingOff, LimitReached, HungUp, Unplugged, Replugged };
    Kind kind;
    std::string data; // the bytes, for Received; the new path, for Replugged
};

// A simulated Tarvex device on a kernel pseudo-terminal; each "s" from the host toggles its data
// stream.
class SimulatedDevice
{
public:
    using EventHandler = std::function<void(const Event &)>;

    explicit SimulatedDevice(DeviceOptions options = {});
    ~SimulatedDevice(); // stops the thread, closes all fds, removes links
    SimulatedDevice(const SimulatedDevice &) = delete;
    SimulatedDevice &operator=(const SimulatedDevice &) = delete;

    bool open(std::string *error); // openpty; false + message on failure
    std::string
    path() const; // the far end for the host to open, e.g. /dev/pts/7 (new on each return)
    void setEventHandler(EventHandler handler); // call before start(); runs on the device thread
    // Run the device loop in a background std::thread. Writes wait while the host is not reading,
    // as with hardware flow control, so nothing is lost but a closed host finds old data on
    // reopening.
    void start();
    void stop(); // stop and join the thread (idempotent)
    // symlink linkPath -> path(); a link follows the device through an unplug and its return
    bool linkTo(const std::string &linkPath, std::string *error);
    // Once the host has read what is on the line (at most 5 s), closes the pseudo-terminal and
    // removes the links, as udev does for an unplugged adapter; what it had generated and not
    // written is lost. Returns at once; away() tells when it is done.
    void unplug();
    // Comes back on a new pseudo-terminal and points the links at it. Returns at once.
    void replug();
    bool away() const;
    std::uint64_t unplugs() const; // how many times it was unplugged
    std::string identity() const;
    std::string received() const; // every byte the host has sent so far (thread-safe copy)
    std::string sent() const; // copy of sent bytes (only with keepSent)
    std::uint64_t bytesSent() const;
    bool streaming() const;
    bool hungUp() const; // closed like an unplugged adapter, once the host read what was queued (or
                         // after 5 s)
    LineSettings lineSettings() const; // read from the host side's current terminal settings

private:
    struct Private;
    std::unique_ptr<Private> d;
};

// The deterministic test pattern: valid UTF-8 of exactly `bytes` bytes mixing ASCII text,
// 2-, 3- and 4-byte characters, zero bytes and CRLF pairs. For M > N, testPattern(N) and
// testPattern(M) differ at most in the last 3 bytes of testPattern(N). A device in TestPattern
// mode sends a prefix of testPattern(L, seed), L being the smaller non-zero one of totalBytes and
// hangupAfter, so that its stream ends on whole characters.
std::string testPattern(std::size_t bytes, std::uint32_t seed);

} // namespace devsim
