// A ppdev program as most are written: open the port, claim it, write the
// data register; never PPDATADIR, trusting the kernel to restore the port
// state a fresh device starts with (data lines driven). It reads an AVR's
// signature over the programmer's wiring (data bit 0 SCK, 1 MOSI, 2 RESET;
// MISO on status bit 7, inverted by the port) and prints it: "1E 95 0F".
//   velkor_ppdev_signature [DEVICE [WIRING]]
// WIRING "stk200" drives an STK200 dongle instead (D4 SCK, D5 MOSI, D7 RESET,
// MISO on ACK, status bit 6), its buffer switched on by D2 and D3 low;
// "stk200-buffer-off" drives the same pins but leaves D2 and D3 high.
#include <fcntl.h>
#include <linux/ppdev.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <string_view>

namespace {

struct Wiring {
    unsigned char sck, mosi, reset;
    unsigned char always;  // bits written with every value
    unsigned char miso;    // its status bit
    bool misoInverted;     // by the port
};

constexpr Wiring kOwnWiring{0x01, 0x02, 0x04, 0x00, 0x80, true};
constexpr Wiring kStk200{0x10, 0x20, 0x80, 0x00, 0x40, false};
constexpr Wiring kStk200BufferOff{0x10, 0x20, 0x80, 0x0C, 0x40, false};
constexpr unsigned kPhaseMicroseconds = 20;  // far slower than a 1 MHz chip needs

int port = -1;
Wiring wiring = kOwnWiring;

void Write(unsigned char data)
{
    data = static_cast<unsigned char>(data | wiring.always);
    if (::ioctl(port, PPWDATA, &data) != 0) {
        std::perror("PPWDATA");
        std::exit(2);
    }
    ::usleep(kPhaseMicroseconds);
}

bool Miso()
{
    unsigned char status = 0;
    ::ioctl(port, PPRSTATUS, &status);
    return ((status & wiring.miso) != 0) != wiring.misoInverted;
}

// One byte out on MOSI, MSB first, and the byte MISO gives meanwhile.
unsigned char Transfer(unsigned char out)
{
    unsigned char in = 0;
    for (int bit = 7; bit >= 0; --bit) {
        const unsigned char mosi = (out >> bit & 1) != 0 ? wiring.mosi : 0;
        Write(mosi);
        in = static_cast<unsigned char>(in << 1 | (Miso() ? 1 : 0));
        Write(static_cast<unsigned char>(mosi | wiring.sck));
    }
    Write(0);
    return in;
}

std::array<unsigned char, 4> Instruction(std::array<unsigned char, 4> bytes)
{
    std::array<unsigned char, 4> answer{};
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        answer[i] = Transfer(bytes[i]);
    }
    return answer;
}

// RESET low for 25 ms, then Programming Enable until it echoes 0x53.
bool ProgrammingEnable()
{
    for (int attempt = 0; attempt < 4; ++attempt) {
        Write(wiring.reset);
        Write(0);
        ::usleep(25'000);
        if (Instruction({0xAC, 0x53, 0x00, 0x00})[2] == 0x53) {
            return true;
        }
    }
    return false;
}

}  // namespace

int main(int argc, char** argv)
{
    const char* device = argc > 1 ? argv[1] : "/dev/parport0";
    const std::string_view wiringName = argc > 2 ? argv[2] : "";
    wiring = wiringName == "stk200" ? kStk200 : wiringName == "stk200-buffer-off" ? kStk200BufferOff : kOwnWiring;
    port = ::open(device, O_RDWR);
    if (port < 0 || ::ioctl(port, PPCLAIM) != 0) {
        std::perror(device);
        return 2;
    }
    const bool enabled = ProgrammingEnable();
    if (enabled) {
        for (unsigned char index = 0; index < 3; ++index) {
            std::printf("%s%02X", index == 0 ? "" : " ", Instruction({0x30, 0x00, index, 0x00})[3]);
        }
        std::printf("\n");
    }
    Write(wiring.reset);
    ::ioctl(port, PPRELEASE);
    ::close(port);
    return enabled ? 0 : 1;
}
