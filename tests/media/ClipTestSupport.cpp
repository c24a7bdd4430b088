#include "media/ClipTestSupport.h"

#include "common/TestEnv.h"
#include "media/FfmpegPtr.h"
#include "media/MediaInput.h"

#include <cmath>
#include <cstdlib>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <numbers>

namespace vantel::test {

namespace fs = std::filesystem;

namespace {

std::string readAll(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

uint32_t be32(const std::string& d, size_t at) {
    return uint32_t(uint8_t(d[at])) << 24 | uint32_t(uint8_t(d[at + 1])) << 16 |
           uint32_t(uint8_t(d[at + 2])) << 8 | uint32_t(uint8_t(d[at + 3]));
}

struct Box {
    size_t at = 0;
    size_t size = 0;
    std::string type;
};

std::vector<Box> boxes(const std::string& d) {
    std::vector<Box> out;
    for (size_t at = 0; at + 8 <= d.size();) {
        const size_t size = be32(d, at);
        if (size < 8 || at + size > d.size())
            break;
        out.push_back({at, size, d.substr(at + 4, 4)});
        at += size;
    }
    return out;
}

uint64_t fnv1a(const uint8_t* p, int n) {
    uint64_t h = 1469598103934665603ull;
    for (int i = 0; i < n; ++i)
        h = (h ^ p[i]) * 1099511628211ull;
    return h;
}

} // namespace

fs::path ffmpegSource(const std::string& name, const std::string& args) {
    const fs::path dir = testHome() / "sources";
    fs::create_directories(dir);
    const fs::path file = dir / name;
    if (!fs::exists(file)) {
        const std::string cmd = "ffmpeg -nostdin -v error -y " + args + " '" + file.string() + "'";
        EXPECT_EQ(std::system(cmd.c_str()), 0) << cmd;
    }
    return file;
}

fs::path gameAndMicClip(double seconds) {
    const std::string t = std::to_string(seconds);
    return ffmpegSource("game-mic-" + t + ".mp4",
                        "-f lavfi -i testsrc2=size=320x180:rate=30 "
                        "-f lavfi -i sine=frequency=440:sample_rate=48000 "
                        "-f lavfi -i sine=frequency=1200:sample_rate=48000 "
                        "-map 0 -map 1 -map 2 -t " +
                            t + " -c:v libx264 -preset ultrafast -g 30 -c:a aac");
}

fs::path bufferSnapshot() {
    const fs::path whole = ffmpegSource(
        "recording.mp4", "-f lavfi -i testsrc2=size=320x180:rate=30 "
                         "-f lavfi -i sine=frequency=440:sample_rate=48000 "
                         "-f lavfi -i sine=frequency=1200:sample_rate=48000 "
                         "-map 0 -map 1 -map 2 -t 12 -c:v libx264 -preset ultrafast "
                         "-tune zerolatency -g 30 -c:a aac "
                         "-movflags frag_keyframe+empty_moov+default_base_moof+skip_trailer");
    const fs::path snap = whole.parent_path() / "snapshot.mp4";
    if (fs::exists(snap))
        return snap;
    const std::string d = readAll(whole);
    std::vector<size_t> moofs;
    for (const Box& b : boxes(d))
        if (b.type == "moof")
            moofs.push_back(b.at);
    EXPECT_GT(moofs.size(), 10u);
    std::ofstream out(snap, std::ios::binary);
    out << d.substr(0, moofs.front()) << d.substr(moofs[4]);
    return snap;
}

std::vector<std::string> topLevelBoxes(const fs::path& file) {
    std::vector<std::string> names;
    for (const Box& b : boxes(readAll(file)))
        names.push_back(b.type);
    return names;
}

std::vector<PacketInfo> packetsOf(const fs::path& file, int type) {
    media::InputContextPtr fmt = media::openMediaInput(file);
    const int stream = av_find_best_stream(fmt.get(), AVMediaType(type), -1, -1, nullptr, 0);
    std::vector<PacketInfo> out;
    media::PacketPtr pkt = media::makePacket();
    while (stream >= 0 && av_read_frame(fmt.get(), pkt.get()) >= 0) {
        if (pkt->stream_index == stream)
            out.push_back(
                {pkt->size, fnv1a(pkt->data, pkt->size), (pkt->flags & AV_PKT_FLAG_KEY) != 0});
        av_packet_unref(pkt.get());
    }
    return out;
}

std::vector<StreamIdentity> streamIdentities(const fs::path& file) {
    media::InputContextPtr fmt = media::openMediaInput(file);
    std::vector<StreamIdentity> out;
    for (unsigned i = 0; i < fmt->nb_streams; ++i) {
        const AVCodecParameters* p = fmt->streams[i]->codecpar;
        out.push_back({int(p->codec_type), p->codec_tag,
                       std::vector<uint8_t>(p->extradata, p->extradata + p->extradata_size)});
    }
    return out;
}

Pcm decodeAudio(const fs::path& file) {
    media::InputContextPtr fmt = media::openMediaInput(file);
    const int stream = av_find_best_stream(fmt.get(), AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0);
    Pcm pcm;
    if (stream < 0)
        return pcm;
    media::CodecContextPtr dec = media::openDecoder(fmt->streams[stream]);
    pcm.rate = dec->sample_rate;
    media::PacketPtr pkt = media::makePacket();
    media::FramePtr frame = media::makeFrame();
    auto drain = [&] {
        while (avcodec_receive_frame(dec.get(), frame.get()) == 0) {
            const int channels = frame->ch_layout.nb_channels;
            for (int i = 0; i < frame->nb_samples; ++i) {
                float sum = 0;
                for (int c = 0; c < channels; ++c)
                    sum += reinterpret_cast<const float*>(frame->extended_data[c])[i];
                pcm.samples.push_back(sum / float(channels));
            }
        }
    };
    while (av_read_frame(fmt.get(), pkt.get()) >= 0) {
        if (pkt->stream_index == stream && avcodec_send_packet(dec.get(), pkt.get()) >= 0)
            drain();
        av_packet_unref(pkt.get());
    }
    avcodec_send_packet(dec.get(), nullptr);
    drain();
    return pcm;
}

double firstBrightFrame(const fs::path& file) {
    media::InputContextPtr fmt = media::openMediaInput(file);
    const int stream = media::firstVideoStream(fmt.get());
    media::CodecContextPtr dec = media::openDecoder(fmt->streams[stream]);
    media::PacketPtr pkt = media::makePacket();
    media::FramePtr f = media::makeFrame();
    double found = -1;
    auto drain = [&] {
        while (found < 0 && avcodec_receive_frame(dec.get(), f.get()) == 0) {
            int64_t sum = 0;
            for (int y = 0; y < f->height; ++y)
                for (int x = 0; x < f->width; ++x)
                    sum += f->data[0][y * f->linesize[0] + x];
            if (sum > int64_t(100) * f->width * f->height)
                found = media::toSeconds(f->best_effort_timestamp, fmt->streams[stream]->time_base);
        }
    };
    while (found < 0 && av_read_frame(fmt.get(), pkt.get()) >= 0) {
        if (pkt->stream_index == stream && avcodec_send_packet(dec.get(), pkt.get()) >= 0)
            drain();
        av_packet_unref(pkt.get());
    }
    avcodec_send_packet(dec.get(), nullptr);
    drain();
    return found;
}

double firstLoudSample(const Pcm& pcm) {
    for (size_t i = 0; i < pcm.samples.size(); ++i)
        if (std::abs(pcm.samples[i]) > 0.05f)
            return double(i) / pcm.rate;
    return -1;
}

double tonePower(const Pcm& pcm, double freq) {
    const double k = 2.0 * std::cos(2.0 * std::numbers::pi * freq / pcm.rate);
    double s1 = 0, s2 = 0;
    for (float x : pcm.samples) {
        const double s0 = x + k * s1 - s2;
        s2 = s1;
        s1 = s0;
    }
    const double n = double(std::max<size_t>(1, pcm.samples.size()));
    return (s1 * s1 + s2 * s2 - k * s1 * s2) / (n * n);
}

double rms(const Pcm& pcm) {
    double sum = 0;
    for (float x : pcm.samples)
        sum += double(x) * x;
    return std::sqrt(sum / double(std::max<size_t>(1, pcm.samples.size())));
}

} // namespace vantel::test
