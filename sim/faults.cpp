#include "sim/faults.h"

#include "protocol/reply.h"

namespace darq::sim {

namespace {

constexpr int kLongestNoise = 40;
constexpr int kMostExtraBytes = 8;

std::uint8_t randomByte(RandomSource& random) {
    return static_cast<std::uint8_t>(random.between(0, 255));
}

Bytes randomBytes(RandomSource& random, int count) {
    Bytes bytes;
    for (int i = 0; i < count; ++i) {
        bytes.push_back(randomByte(random));
    }
    return bytes;
}

} // namespace

double SeededRandom::uniform() {
    return std::uniform_real_distribution<double>(0.0, 1.0)(engine_);
}

int SeededRandom::between(int low, int high) {
    return std::uniform_int_distribution<int>(low, high)(engine_);
}

FaultDraw drawFaults(const FaultProbabilities& probabilities, RandomSource& random) {
    FaultDraw draw;
    draw.noReply = random.uniform() < probabilities.noReply;
    draw.shortReply = random.uniform() < probabilities.shortReply;
    draw.extraBytes = random.uniform() < probabilities.extraBytes;
    draw.badCrc = random.uniform() < probabilities.badCrc;
    draw.noise = random.uniform() < probabilities.noise;
    draw.echo = random.uniform() < probabilities.echo;
    return draw;
}

Transmission applyFaults(const Bytes& request, const Bytes& reply, const FaultDraw& faults,
                         RandomSource& random) {
    Transmission transmission;
    if (faults.echo) {
        transmission.echo = request;
        transmission.applied.push_back("echo");
    }
    if (faults.noReply) {
        transmission.applied.push_back("no-reply");
        return transmission;
    }
    if (faults.noise) {
        // A noise burst of exactly a reply's length would be decoded as a reading, which is the
        // bad CRC fault's job; keeping the two apart makes each fault's effect predictable.
        int length = random.between(1, kLongestNoise - 1);
        if (length >= static_cast<int>(kReplyLength)) {
            ++length;
        }
        transmission.reply = randomBytes(random, length);
        transmission.applied.push_back("noise (" + std::to_string(length) + " bytes)");
        return transmission;
    }
    transmission.reply = reply;
    Bytes& bytes = transmission.reply;
    if (faults.badCrc && bytes.size() >= 2) {
        const int flip = random.between(1, 0xFFFF);
        bytes[bytes.size() - 2] ^= static_cast<std::uint8_t>(flip & 0xFF);
        bytes[bytes.size() - 1] ^= static_cast<std::uint8_t>(flip >> 8);
        transmission.applied.push_back("bad-crc");
    }
    if (faults.shortReply && bytes.size() >= 2) {
        const int kept = random.between(1, static_cast<int>(bytes.size()) - 1);
        bytes.resize(static_cast<std::size_t>(kept));
        transmission.applied.push_back("short-reply (" + std::to_string(kept) + " bytes)");
    }
    if (faults.extraBytes) {
        const int count = random.between(1, kMostExtraBytes);
        const Bytes extra = randomBytes(random, count);
        bytes.insert(bytes.end(), extra.begin(), extra.end());
        transmission.applied.push_back("extra-bytes (+" + std::to_string(count) + ")");
    }
    return transmission;
}

} // namespace darq::sim
