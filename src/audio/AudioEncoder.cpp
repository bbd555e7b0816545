#include "audio/AudioEncoder.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/error.h>
#include <libavutil/log.h>
#include <libavutil/opt.h>
}

#include <vector>

namespace pealix {

namespace {

QString describeAvError(int code)
{
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, text, sizeof text);
    return QString::fromUtf8(text);
}

} // namespace

struct AudioEncoder::Private
{
    AVFormatContext *format = nullptr;
    AVCodecContext *codec = nullptr;
    AVStream *stream = nullptr;
    AVFrame *frame = nullptr;
    AVPacket *packet = nullptr;
    bool headerWritten = false;
    // Samples waiting for a whole frame, as floats in [-1, 1).
    std::vector<float> pending;
    std::int64_t framesPts = 0;
    std::int64_t samplesIn = 0;
    QString failure;

    ~Private() { release(); }

    void release()
    {
        av_packet_free(&packet);
        av_frame_free(&frame);
        avcodec_free_context(&codec);
        if (format) {
            if (format->pb)
                avio_closep(&format->pb);
            avformat_free_context(format);
            format = nullptr;
        }
        stream = nullptr;
        headerWritten = false;
    }

    bool fail(const QString &what, int code)
    {
        if (failure.isEmpty())
            failure = code ? what + QStringLiteral(": ") + describeAvError(code) : what;
        return false;
    }

    // Moves every packet the encoder has ready into the file.
    bool drainPackets()
    {
        for (;;) {
            int rc = avcodec_receive_packet(codec, packet);
            if (rc == AVERROR(EAGAIN) || rc == AVERROR_EOF)
                return true;
            if (rc < 0)
                return fail(QStringLiteral("AAC encoding failed"), rc);
            av_packet_rescale_ts(packet, codec->time_base, stream->time_base);
            packet->stream_index = stream->index;
            rc = av_interleaved_write_frame(format, packet);
            if (rc < 0)
                return fail(QStringLiteral("Writing the audio file failed"), rc);
        }
    }

    bool sendFrame(const float *samples, int count)
    {
        int rc = av_frame_make_writable(frame);
        if (rc < 0)
            return fail(QStringLiteral("Out of memory for audio"), rc);
        frame->nb_samples = count;
        std::copy(samples, samples + count, reinterpret_cast<float *>(frame->data[0]));
        frame->pts = framesPts;
        framesPts += count;
        rc = avcodec_send_frame(codec, frame);
        if (rc < 0)
            return fail(QStringLiteral("AAC encoding failed"), rc);
        return drainPackets();
    }
};

AudioEncoder::AudioEncoder() : d(std::make_unique<Private>()) {}

AudioEncoder::~AudioEncoder() = default;

bool AudioEncoder::isOpen() const { return d->headerWritten; }

std::int64_t AudioEncoder::samplesWritten() const { return d->samplesIn; }

bool AudioEncoder::open(const QString &path, QString *error)
{
    av_log_set_level(AV_LOG_QUIET); // the application keeps no log; failures come back as values
    d->release();
    d->failure.clear();
    d->pending.clear();
    d->framesPts = 0;
    d->samplesIn = 0;

    auto failed = [&](const QString &what, int code) {
        d->fail(what, code);
        if (error)
            *error = d->failure;
        d->release();
        return false;
    };

    const QByteArray file = path.toUtf8();
    int rc = avformat_alloc_output_context2(&d->format, nullptr, "ipod", file.constData());
    if (rc < 0 || !d->format)
        return failed(QStringLiteral("The MPEG-4 audio writer is unavailable"), rc);

    const AVCodec *aac = avcodec_find_encoder_by_name("aac");
    if (!aac)
        return failed(QStringLiteral("The AAC encoder is unavailable"), 0);
    d->codec = avcodec_alloc_context3(aac);
    d->stream = avformat_new_stream(d->format, nullptr);
    d->frame = av_frame_alloc();
    d->packet = av_packet_alloc();
    if (!d->codec || !d->stream || !d->frame || !d->packet)
        return failed(QStringLiteral("Out of memory for audio"), AVERROR(ENOMEM));

    d->codec->sample_fmt = AV_SAMPLE_FMT_FLTP;
    d->codec->sample_rate = sampleRate;
    d->codec->bit_rate = bitRate;
    av_channel_layout_default(&d->codec->ch_layout, channelCount);
    d->codec->time_base = AVRational{1, sampleRate};
    if (d->format->oformat->flags & AVFMT_GLOBALHEADER)
        d->codec->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    rc = avcodec_open2(d->codec, aac, nullptr);
    if (rc < 0)
        return failed(QStringLiteral("The AAC encoder did not start"), rc);
    rc = avcodec_parameters_from_context(d->stream->codecpar, d->codec);
    if (rc < 0)
        return failed(QStringLiteral("The AAC encoder did not start"), rc);
    d->stream->time_base = d->codec->time_base;

    d->frame->format = d->codec->sample_fmt;
    d->frame->sample_rate = sampleRate;
    d->frame->nb_samples = d->codec->frame_size;
    av_channel_layout_copy(&d->frame->ch_layout, &d->codec->ch_layout);
    rc = av_frame_get_buffer(d->frame, 0);
    if (rc < 0)
        return failed(QStringLiteral("Out of memory for audio"), rc);

    rc = avio_open(&d->format->pb, file.constData(), AVIO_FLAG_WRITE);
    if (rc < 0)
        return failed(QStringLiteral("Cannot create the audio file %1").arg(path), rc);

    AVDictionary *options = nullptr;
    av_dict_set(&options, "movflags", "+faststart", 0);
    rc = avformat_write_header(d->format, &options);
    av_dict_free(&options);
    if (rc < 0)
        return failed(QStringLiteral("Cannot write the audio file %1").arg(path), rc);
    d->headerWritten = true;
    d->pending.reserve(std::size_t(d->codec->frame_size));
    return true;
}

bool AudioEncoder::write(const int16_t *samples, std::size_t count)
{
    if (!d->headerWritten || !d->failure.isEmpty())
        return false;
    const std::size_t frameSize = std::size_t(d->codec->frame_size);
    d->samplesIn += std::int64_t(count);
    for (std::size_t i = 0; i < count; ++i) {
        d->pending.push_back(float(samples[i]) / 32768.0f);
        if (d->pending.size() == frameSize) {
            if (!d->sendFrame(d->pending.data(), int(frameSize)))
                return false;
            d->pending.clear();
        }
    }
    return true;
}

bool AudioEncoder::finish(QString *error)
{
    auto result = [&](bool ok) {
        if (!ok && error)
            *error = d->failure.isEmpty() ? QStringLiteral("The audio file is not open") : d->failure;
        d->release();
        return ok;
    };
    if (!d->headerWritten || !d->failure.isEmpty())
        return result(false);

    if (d->samplesIn == 0) {
        d->pending.assign(std::size_t(d->codec->frame_size), 0.0f);
        d->samplesIn = d->codec->frame_size;
    }
    if (!d->pending.empty() && !d->sendFrame(d->pending.data(), int(d->pending.size())))
        return result(false);
    d->pending.clear();

    int rc = avcodec_send_frame(d->codec, nullptr);
    if (rc < 0 && rc != AVERROR_EOF)
        return result(d->fail(QStringLiteral("AAC encoding failed"), rc));
    if (!d->drainPackets())
        return result(false);
    rc = av_write_trailer(d->format);
    if (rc < 0)
        return result(d->fail(QStringLiteral("Finishing the audio file failed"), rc));
    rc = avio_closep(&d->format->pb);
    if (rc < 0)
        return result(d->fail(QStringLiteral("Closing the audio file failed"), rc));
    return result(true);
}

void AudioEncoder::abandon()
{
    d->release();
    d->pending.clear();
}

} // namespace pealix
