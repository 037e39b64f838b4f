#include "webm_writer.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <deque>
#include <memory>

#include <ebml/EbmlHead.h>
#include <ebml/EbmlSubHead.h>
#include <ebml/EbmlVoid.h>
#include <ebml/IOCallback.h>
#include <matroska/KaxBlock.h>
#include <matroska/KaxCluster.h>
#include <matroska/KaxCues.h>
#include <matroska/KaxCuesData.h>
#include <matroska/KaxInfo.h>
#include <matroska/KaxInfoData.h>
#include <matroska/KaxSeekHead.h>
#include <matroska/KaxSegment.h>
#include <matroska/KaxSemantic.h>
#include <matroska/KaxTag.h>
#include <matroska/KaxTags.h>
#include <matroska/KaxTrackAudio.h>
#include <matroska/KaxTrackEntryData.h>
#include <matroska/KaxTrackVideo.h>
#include <matroska/KaxTracks.h>

using namespace libebml;
using namespace libmatroska;

namespace {

// A cluster lasts at most 5 s, and less when its 16-bit block time offsets
// would not reach that far in the file's ticks.
constexpr int64_t longest_cluster_ns = 5000000000;
// Room for the seek head, written last in front of the info.
constexpr uint64_t seek_head_room = 160;

// libebml's own file callback does not notice a failed write (a full disk).
class checked_file : public IOCallback {
  public:
    FILE* f = nullptr;
    int error = 0;

    uint32 read(void*, size_t) override { return 0; }
    void setFilePointer(int64 offset, seek_mode mode) override {
        int whence = mode == seek_beginning ? SEEK_SET : mode == seek_end ? SEEK_END : SEEK_CUR;
        if (fseeko(f, offset, whence) != 0 && !error) error = errno;
    }
    size_t write(const void* data, size_t size) override {
        if (size == 0) return 0;
        if (fwrite(data, 1, size, f) != size && !error) error = errno ? errno : EIO;
        return size;
    }
    uint64 getFilePointer() override {
        off_t at = ftello(f);
        return at < 0 ? 0 : uint64(at);
    }
    void close() override {
        if (!f) return;
        if (fclose(f) != 0 && !error) error = errno;
        f = nullptr;
    }
};

struct packet {
    int64_t time_ns;
    std::vector<uint8_t> data;
    bool key;
    int64_t discard_padding_ns;
};

} // namespace

struct webm_file {
    checked_file io;
    webm_setup setup;
    KaxSegment segment;
    EbmlVoid seek_room;
    KaxInfo* info = nullptr;
    KaxTracks* tracks = nullptr;
    KaxTrackEntry* track[2] = {nullptr, nullptr};
    KaxTags* tags = nullptr;
    KaxCues cues;
    KaxCues unused_cues; // the cluster's own cue bookkeeping is not used
    std::unique_ptr<KaxCluster> cluster;
    int64_t cluster_ticks = 0;
    int64_t cluster_span_ticks = 0;
    uint64_t previous_cluster_ticks = 0;
    bool cluster_starts_with_key = false;
    std::deque<packet> queued[2];
};

static bool failed(webm_output* out) {
    if (!out->file || out->file->io.error == 0) return false;
    if (out->error.empty())
        out->error = "cannot write " + out->path + ": " + strerror(out->file->io.error);
    return true;
}

static void render_cluster(webm_file* w) {
    if (!w->cluster) return;
    w->cluster->Render(w->io, w->unused_cues);
    bool cue = w->track[webm_video] ? w->cluster_starts_with_key : true;
    if (cue) {
        auto& point = AddNewChild<KaxCuePoint>(w->cues);
        GetChild<KaxCueTime>(point).SetValue(uint64(w->cluster_ticks));
        auto& where = GetChild<KaxCueTrackPositions>(point);
        webm_track t = w->track[webm_video] ? webm_video : webm_sound;
        GetChild<KaxCueTrack>(where).SetValue(GetChild<KaxTrackNumber>(*w->track[t]).GetValue());
        GetChild<KaxCueClusterPosition>(where).SetValue(
            w->segment.GetRelativePosition(*w->cluster));
    }
    w->previous_cluster_ticks = uint64(w->cluster_ticks);
    w->cluster.reset();
}

static void write_packet(webm_file* w, webm_track t, packet& p) {
    const bool video_key = t == webm_video && p.key;
    const int64_t tick = w->setup.tick_ns;
    const int64_t ticks = (p.time_ns + tick / 2) / tick;
    if (w->cluster && (video_key || ticks - w->cluster_ticks >= w->cluster_span_ticks))
        render_cluster(w);
    if (!w->cluster) {
        w->cluster = std::make_unique<KaxCluster>();
        w->cluster->SetParent(w->segment);
        w->cluster_ticks = ticks;
        w->cluster->SetPreviousTimecode(w->previous_cluster_ticks, int64(tick));
        w->cluster->InitTimecode(uint64(ticks), int64(tick));
        GetChild<KaxClusterTimecode>(*w->cluster);
        w->cluster_starts_with_key = video_key;
    }
    auto* buffer = new DataBuffer(p.data.data(), uint32(p.data.size()), nullptr, true);
    // libmatroska takes block times in nanoseconds and divides them by the tick.
    const uint64 time = uint64(ticks * tick);
    if (p.discard_padding_ns > 0) {
        // DiscardPadding is a BlockGroup's child; a SimpleBlock cannot carry it.
        auto& group = AddNewChild<KaxBlockGroup>(*w->cluster);
        group.SetParent(*w->cluster);
        group.AddFrame(*w->track[t], time, *buffer, LACING_NONE);
        GetChild<KaxDiscardPadding>(group).SetValue(p.discard_padding_ns);
    } else {
        auto& block = AddNewChild<KaxSimpleBlock>(*w->cluster);
        block.SetParent(*w->cluster);
        block.AddFrame(*w->track[t], time, *buffer, LACING_NONE);
        block.SetKeyframe(p.key);
    }
}

// Writes queued packets in time order as long as every track has one
// waiting (or all of them when the tracks have ended).
static void drain(webm_file* w, bool all) {
    for (;;) {
        std::deque<packet>* q[2] = {&w->queued[0], &w->queued[1]};
        bool has[2] = {w->track[0] != nullptr, w->track[1] != nullptr};
        int pick = -1;
        for (int t = 0; t < 2; ++t) {
            if (!has[t]) continue;
            if (q[t]->empty()) {
                if (!all) return;
                continue;
            }
            if (pick < 0 || q[t]->front().time_ns < q[pick]->front().time_ns) pick = t;
        }
        if (pick < 0) return;
        write_packet(w, webm_track(pick), q[pick]->front());
        q[pick]->pop_front();
    }
}

static KaxTrackEntry& add_track(webm_file* w, uint64 number, uint8 type, const char* codec) {
    auto& track = AddNewChild<KaxTrackEntry>(*w->tracks);
    track.SetGlobalTimecodeScale(uint64(w->setup.tick_ns));
    GetChild<KaxTrackNumber>(track).SetValue(number);
    GetChild<KaxTrackUID>(track).SetValue(number);
    GetChild<KaxTrackType>(track).SetValue(type);
    GetChild<KaxCodecID>(track).SetValue(codec);
    GetChild<KaxTrackFlagLacing>(track).SetValue(0);
    return track;
}

bool webm_open(webm_output* out, const std::string& path, const webm_setup& setup) {
    webm_close(out);
    *out = {};
    out->path = path;
    FILE* f = fopen(path.c_str(), "wb");
    if (!f) {
        out->error = "cannot write " + path + ": " + strerror(errno);
        return false;
    }
    auto* w = new webm_file;
    out->file = w;
    w->io.f = f;
    w->setup = setup;
    if (w->setup.tick_ns <= 0) w->setup.tick_ns = 1000000;
    w->cluster_span_ticks = std::min<int64_t>(longest_cluster_ns / w->setup.tick_ns, 32767);
    try {
        EbmlHead head;
        GetChild<EDocType>(head).SetValue(setup.doc_type);
        GetChild<EDocTypeVersion>(head).SetValue(4);
        GetChild<EDocTypeReadVersion>(head).SetValue(2);
        head.Render(w->io, true);

        // The size is filled in at the end, in the 8 bytes kept for it.
        w->segment.WriteHead(w->io, 8);
        w->seek_room.SetSize(seek_head_room);
        w->seek_room.Render(w->io);

        w->info = &GetChild<KaxInfo>(w->segment);
        GetChild<KaxTimecodeScale>(*w->info).SetValue(uint64(w->setup.tick_ns));
        auto& duration = GetChild<KaxDuration>(*w->info);
        duration.SetPrecision(EbmlFloat::FLOAT_64);
        duration.SetValue(0.0);
        GetChild<KaxMuxingApp>(*w->info).SetValueUTF8("libmatroska");
        GetChild<KaxWritingApp>(*w->info).SetValueUTF8("reelrip");
        GetChild<KaxTitle>(*w->info).SetValueUTF8(setup.title);
        w->info->Render(w->io, true);

        w->tracks = &GetChild<KaxTracks>(w->segment);
        uint64 number = 1;
        if (setup.width > 0 && setup.height > 0) {
            auto& track = add_track(w, number++, track_video, "V_VP9");
            auto& video = GetChild<KaxTrackVideo>(track);
            GetChild<KaxVideoPixelWidth>(video).SetValue(uint64(setup.width));
            GetChild<KaxVideoPixelHeight>(video).SetValue(uint64(setup.height));
            auto& colour = GetChild<KaxVideoColour>(video);
            GetChild<KaxVideoBitsPerChannel>(colour).SetValue(8);
            if (setup.rgb) {
                // Identity matrix (the planes are G, B, R), full range,
                // sRGB's primaries and transfer, no subsampling.
                GetChild<KaxVideoColourMatrix>(colour).SetValue(0);
                GetChild<KaxVideoChromaSubsampHorz>(colour).SetValue(0);
                GetChild<KaxVideoChromaSubsampVert>(colour).SetValue(0);
                GetChild<KaxVideoColourRange>(colour).SetValue(2);
                GetChild<KaxVideoColourTransferCharacter>(colour).SetValue(13);
                GetChild<KaxVideoColourPrimaries>(colour).SetValue(1);
            } else {
                // BT.601 (SMPTE 170M) in studio range, chroma sited at the
                // centre of each 2 x 2 block, as the converter makes it.
                GetChild<KaxVideoColourMatrix>(colour).SetValue(6);
                GetChild<KaxVideoChromaSubsampHorz>(colour).SetValue(1);
                GetChild<KaxVideoChromaSubsampVert>(colour).SetValue(1);
                GetChild<KaxVideoChromaSitHorz>(colour).SetValue(2);
                GetChild<KaxVideoChromaSitVert>(colour).SetValue(2);
                GetChild<KaxVideoColourRange>(colour).SetValue(1);
                GetChild<KaxVideoColourTransferCharacter>(colour).SetValue(6);
                GetChild<KaxVideoColourPrimaries>(colour).SetValue(6);
            }
            w->track[webm_video] = &track;
        }
        if (setup.channels > 0) {
            auto& track = add_track(w, number++, track_audio, setup.sound_codec.c_str());
            auto& audio = GetChild<KaxTrackAudio>(track);
            GetChild<KaxAudioSamplingFreq>(audio).SetValue(setup.sound_rate);
            GetChild<KaxAudioChannels>(audio).SetValue(uint64(setup.channels));
            if (setup.sound_bits > 0)
                GetChild<KaxAudioBitDepth>(audio).SetValue(uint64(setup.sound_bits));
            if (!setup.sound_private.empty())
                GetChild<KaxCodecPrivate>(track).CopyBuffer(setup.sound_private.data(),
                                                            uint32(setup.sound_private.size()));
            if (setup.codec_delay_ns > 0)
                GetChild<KaxCodecDelay>(track).SetValue(uint64(setup.codec_delay_ns));
            if (setup.seek_pre_roll_ns > 0)
                GetChild<KaxSeekPreRoll>(track).SetValue(uint64(setup.seek_pre_roll_ns));
            w->track[webm_sound] = &track;
        }
        w->tracks->Render(w->io, false);

        w->tags = &GetChild<KaxTags>(w->segment);
        auto& tag = GetChild<KaxTag>(*w->tags);
        GetChild<KaxTagTargetTypeValue>(GetChild<KaxTagTargets>(tag)).SetValue(50);
        auto& simple = GetChild<KaxTagSimple>(tag);
        GetChild<KaxTagName>(simple).SetValueUTF8("TITLE");
        GetChild<KaxTagString>(simple).SetValueUTF8(setup.title);
        w->tags->Render(w->io, false);
    } catch (...) {
        out->error = "cannot write " + path + ": the Matroska library failed";
        return false;
    }
    return !failed(out);
}

bool webm_add(webm_output* out, webm_track track, int64_t time_ns, const uint8_t* data, size_t size,
              bool key, int64_t discard_padding_ns) {
    webm_file* w = out->file;
    if (!w || !w->track[track] || failed(out)) return false;
    packet p{time_ns < 0 ? 0 : time_ns, std::vector<uint8_t>(data, data + size), key,
             discard_padding_ns};
    w->queued[track].push_back(std::move(p));
    try {
        drain(w, false);
    } catch (...) {
        out->error = "cannot write " + out->path + ": the Matroska library failed";
        return false;
    }
    return !failed(out);
}

bool webm_finish(webm_output* out, double duration_seconds) {
    webm_file* w = out->file;
    if (!w || failed(out)) return false;
    try {
        drain(w, true);
        render_cluster(w);
        if (w->cues.ListSize() > 0) w->cues.Render(w->io);

        // The segment's size, the duration and the seek head, in place.
        const uint64 end = w->io.getFilePointer();
        w->segment.ForceSize(end - w->segment.GetElementPosition() - w->segment.HeadSize());
        w->segment.OverwriteHead(w->io);

        GetChild<KaxDuration>(*w->info).SetValue(duration_seconds * 1e9 / double(w->setup.tick_ns));
        w->io.setFilePointer(int64(w->info->GetElementPosition()), seek_beginning);
        w->info->Render(w->io, true);

        KaxSeekHead seek;
        seek.IndexThis(*w->info, w->segment);
        seek.IndexThis(*w->tracks, w->segment);
        seek.IndexThis(*w->tags, w->segment);
        if (w->cues.ListSize() > 0) seek.IndexThis(w->cues, w->segment);
        w->seek_room.ReplaceWith(seek, w->io, false, true);
        w->io.setFilePointer(int64(end), seek_beginning);
        out->bytes = int64_t(end);
    } catch (...) {
        out->error = "cannot write " + out->path + ": the Matroska library failed";
    }
    if (out->file->io.f && fflush(out->file->io.f) != 0 && !out->file->io.error)
        out->file->io.error = errno;
    w->io.close();
    bool ok = out->error.empty() && !failed(out);
    webm_close(out);
    return ok;
}

void webm_close(webm_output* out) {
    if (!out->file) return;
    out->file->io.close();
    delete out->file;
    out->file = nullptr;
}
