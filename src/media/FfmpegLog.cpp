#include "FfmpegLog.h"

extern "C" {
#include <libavutil/log.h>
}

#include <cstdarg>
#include <cstdio>
#include <mutex>
#include <string>
#include <string_view>
#include <unistd.h>

namespace vantel::media {

namespace {

std::string component(void* avcl) {
    if (!avcl)
        return "ffmpeg";
    const AVClass* cls = *static_cast<const AVClass**>(avcl);
    if (!cls)
        return "ffmpeg";
    // A codec context without its codec names itself "NULL"; its class says more.
    const char* name = cls->item_name ? cls->item_name(avcl) : nullptr;
    if (!name || std::string_view(name) == "NULL")
        name = cls->class_name;
    return name ? name : "ffmpeg";
}

// One write per line, so lines of several threads do not interleave.
void writeLine(const std::string& line) {
    for (size_t done = 0; done < line.size();) {
        const ssize_t n = ::write(STDERR_FILENO, line.data() + done, line.size() - done);
        if (n <= 0)
            return;
        done += size_t(n);
    }
}

void handle(void* avcl, int level, const char* format, va_list args) {
    if (level > AV_LOG_WARNING)
        return;
    // FFmpeg sometimes builds one line from several calls: collect until the line ends.
    thread_local std::string pending;
    char text[1024];
    std::vsnprintf(text, sizeof text, format, args);
    pending += text;
    if (pending.empty() || pending.back() != '\n')
        return;
    writeLine("ffmpeg: " + component(avcl) + ": " + pending);
    pending.clear();
}

} // namespace

void installFfmpegLog() {
    static std::once_flag installed;
    std::call_once(installed, [] { av_log_set_callback(handle); });
}

} // namespace vantel::media
