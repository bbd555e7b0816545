#include "audio/AudioFileDuration.h"

extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/log.h>
}

#include <cmath>
#include <memory>

namespace pealix {

namespace {

struct InputCloser
{
    void operator()(AVFormatContext *context) const { avformat_close_input(&context); }
};
using Input = std::unique_ptr<AVFormatContext, InputCloser>;

// A container whose index points past the end of the file was cut short: the
// declared length would promise audio that a speaker can never fetch.
bool indexFitsInFile(AVFormatContext *context, AVStream *stream)
{
    const int64_t fileSize = context->pb ? avio_size(context->pb) : -1;
    if (fileSize <= 0)
        return true; // size unknown: nothing to compare with
    const int entries = avformat_index_get_entries_count(stream);
    int64_t end = 0;
    for (int i = 0; i < entries; ++i) {
        const AVIndexEntry *entry = avformat_index_get_entry(stream, i);
        if (entry)
            end = std::max<int64_t>(end, entry->pos + entry->size);
    }
    return end <= fileSize;
}

} // namespace

std::optional<double> audioFileDuration(const QString &path)
{
    if (path.isEmpty())
        return std::nullopt;
    av_log_set_level(AV_LOG_QUIET); // a damaged file is an answer, not something to report
    AVFormatContext *raw = nullptr;
    // The "file:" prefix and the whitelist keep a name such as "http://..." a
    // local file name: reading a duration never opens a network connection.
    const QByteArray file = "file:" + path.toUtf8();
    AVDictionary *options = nullptr;
    av_dict_set(&options, "protocol_whitelist", "file", 0);
    // Only MP4 audio: it is what Pealix records and what the speakers are told
    // they get (audio/mp4). Other demuxers trust sizes a damaged file declares
    // (the WAV reader zero-fills a 2 GB buffer for one INFO tag that says so).
    const AVInputFormat *mp4 = av_find_input_format("mp4");
    const int rc = avformat_open_input(&raw, file.constData(), mp4, &options);
    av_dict_free(&options);
    if (rc < 0)
        return std::nullopt;
    Input input(raw);
    if (avformat_find_stream_info(input.get(), nullptr) < 0)
        return std::nullopt;

    const int index = av_find_best_stream(input.get(), AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0);
    if (index < 0)
        return std::nullopt;
    AVStream *stream = input->streams[index];
    if (!indexFitsInFile(input.get(), stream))
        return std::nullopt;

    double seconds = NAN;
    if (input->duration != AV_NOPTS_VALUE && input->duration > 0)
        seconds = double(input->duration) / AV_TIME_BASE;
    else if (stream->duration != AV_NOPTS_VALUE && stream->duration > 0)
        seconds = double(stream->duration) * av_q2d(stream->time_base);
    if (!std::isfinite(seconds) || seconds <= 0)
        return std::nullopt;
    return seconds;
}

} // namespace pealix
