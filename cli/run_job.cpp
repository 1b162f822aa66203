#include "run_job.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#include "clip_setup.h"
#include "desktop.h"
#include "errors.h"
#include "filter_session.h"
#include "host/sliders.h"
#include "host_services.h"
#include "interrupt.h"
#include "pixel_buffer.h"
#include "plugin_module.h"
#include "png_snapshot.h"
#include "progress.h"
#include "slider_settings.h"
#include "source_frames.h"

namespace qv::cli {

namespace {

std::string Size(int w, int h) { return std::to_string(w) + "x" + std::to_string(h); }

// The output size the sliders ask for; a filter without size sliders keeps the source's.
void TargetSize(const FilterSession& session, int sourceW, int sourceH, int* w, int* h) {
    const int wi = session.SliderIndex(host::kSliderSpecs[host::kWidth].name);
    const int hi = session.SliderIndex(host::kSliderSpecs[host::kHeight].name);
    *w = wi >= 0 ? session.Value(wi) : sourceW;
    *h = hi >= 0 ? session.Value(hi) : sourceH;
}

// A snapshot that cannot be written is found out before any frame, not after frame N.
void CheckSnapshotFolder(const std::string& path) {
    const size_t slash = path.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
    if (::access(folder.c_str(), W_OK) != 0) {
        throw OutputError("cannot write the snapshot " + path + ": " + std::strerror(errno));
    }
}

// Everything one run holds, in the order it is built; the frame loop lives here.
class Job {
public:
    explicit Job(const Options& options) : options_(options) {}
    int Run();

private:
    void OpenInput();
    void StartFilter();
    void ProcessFrames();
    void ProcessFrame(int64_t n);
    void Finish();
    void CloseAfterError();

    const Options& options_;
    OpenedSource source_;
    std::unique_ptr<SourceFrames> frames_;
    std::unique_ptr<PluginModule> module_;
    std::unique_ptr<Host> host_;
    std::unique_ptr<FilterSession> session_;
    std::unique_ptr<FrameWriter> writer_;
    std::unique_ptr<Progress> progress_;
    PixelBuffer editBuffer_;
    int32_t rowLength_ = 0;
    int32_t bufferRows_ = 0;
    int targetW_ = 0;
    int targetH_ = 0;
    bool gpuDisabled_ = false;
    bool warnedPassthrough_ = false;
    bool snapshotWritten_ = false;
    bool interrupted_ = false;
    int outW_ = 0;
    int outH_ = 0;
};

void Job::OpenInput() {
    source_ = OpenSource(options_);
    const FrameReader& reader = *source_.reader;
    if (reader.Width() > host::kMaxRequestWidth || reader.Height() > host::kMaxRequestHeight) {
        throw InputError(reader.Name() + ": the source is " + Size(reader.Width(), reader.Height()) +
                         ", larger than the filter takes (" +
                         Size(host::kMaxRequestWidth, host::kMaxRequestHeight) + " at most)");
    }
    frames_ = std::make_unique<SourceFrames>(*source_.reader);
    if (!frames_->Prepare(0)) throw InputError(reader.Name() + ": the clip has no frames");
    if (options_.snapshot) CheckSnapshotFolder(options_.snapshot->path);
    if (options_.snapshot && frames_->CountKnown() && options_.snapshot->frame >= frames_->Count()) {
        throw UsageError("--snapshot: frame " + std::to_string(options_.snapshot->frame) + " is beyond the clip (" +
                         std::to_string(frames_->Count()) + " frames)");
    }
}

void Job::StartFilter() {
    Desktop::Instance().AllowRetries(options_.retryDevice);
    module_ = std::make_unique<PluginModule>(options_.plugin.empty() ? PluginModule::DefaultPath() : options_.plugin);
    host_ = std::make_unique<Host>(options_.threads);
    host_->AttachSource(frames_.get());
    session_ = std::make_unique<FilterSession>(*module_, *host_);
    session_->Init();
    ApplySliderOptions(*session_, options_.sliders, options_.allowPassthrough);
    gpuDisabled_ = Desktop::Instance().GpuDisabledSince(0);
    TargetSize(*session_, frames_->Width(), frames_->Height(), &targetW_, &targetH_);
    // The edit buffer holds the source or the largest frame the host edits, whichever is larger.
    rowLength_ = std::max(frames_->Width(), kHostMaxWidth);
    bufferRows_ = std::max(frames_->Height(), kHostMaxHeight);
    editBuffer_ = PixelBuffer(static_cast<size_t>(rowLength_) * static_cast<size_t>(bufferRows_));
}

void Job::ProcessFrame(int64_t n) {
    FrameRequest request{};
    request.editBuffer = editBuffer_.data();
    request.width = frames_->Width();
    request.height = frames_->Height();
    request.rowLength = rowLength_;
    request.maxHeight = bufferRows_;
    request.frame = static_cast<int32_t>(n);
    request.frameCount = frames_->RequestFrameCount();
    request.edit = host_->Edit();

    std::vector<YcPixel> snapshotSource;
    if (options_.snapshot && options_.snapshot->frame == n) {
        const YcPixel* src = frames_->Fetch(static_cast<int32_t>(n));
        snapshotSource.assign(src, src + static_cast<size_t>(frames_->Width()) * static_cast<size_t>(frames_->Height()));
    }

    const size_t boxes = Desktop::Instance().BoxCount();
    const int32_t result = session_->Process(&request);
    host_->FrameDone();
    if (!host_->Problem().empty()) throw FilterError(host_->Problem());
    if (Desktop::Instance().GpuDisabledSince(boxes)) gpuDisabled_ = true;

    const int w = request.width;
    const int h = request.height;
    if (w < 1 || h < 1 || w > rowLength_ || h > bufferRows_) {
        throw FilterError("the filter reported frame " + std::to_string(n) + " as " + Size(w, h) +
                          ", which its edit buffer (" + Size(rowLength_, bufferRows_) + ") cannot hold");
    }
    // A disabled GPU path copies the source through: the filter says so with its boxes, and a
    // frame that comes back at the source size when the sliders ask for another shows it too.
    const bool unfiltered = gpuDisabled_ || (result != 0 && (w != targetW_ || h != targetH_));
    if (unfiltered && !options_.allowPassthrough) {
        throw FilterError(gpuDisabled_ ? PassthroughRefusal()
                                       : "frame " + std::to_string(n) + " came back unfiltered at " + Size(w, h) +
                                             " instead of " + Size(targetW_, targetH_) + "; " + PassthroughRefusal());
    }
    if (result == 0 && !(options_.allowPassthrough && gpuDisabled_)) {
        throw FilterError("the filter failed on frame " + std::to_string(n) + " (see its messages above)");
    }
    if (unfiltered && !warnedPassthrough_) {
        warnedPassthrough_ = true;
        Progress::ClearLine();
        std::fprintf(stderr, "quillervantis: warning: the filter's GPU path is disabled; frames pass through unfiltered\n");
    }

    writer_->Write(editBuffer_.data(), 3 * static_cast<ptrdiff_t>(rowLength_), w, h);
    outW_ = w;
    outH_ = h;
    if (!snapshotSource.empty()) {
        const HostImage src{snapshotSource.data(), 3 * static_cast<ptrdiff_t>(frames_->Width()), frames_->Width(),
                            frames_->Height()};
        const HostImage out{editBuffer_.data(), 3 * static_cast<ptrdiff_t>(rowLength_), w, h};
        WriteSnapshot(options_.snapshot->path, src, out);
        snapshotWritten_ = true;
    }
}

void Job::ProcessFrames() {
    host_->SetSaving(!options_.preview);
    for (int64_t n = 0;; ++n) {
        if (InterruptRequested()) {
            interrupted_ = true;
            return;
        }
        try {
            if (n > 0 && !frames_->Prepare(n)) return;
        } catch (const Interrupted&) {
            interrupted_ = true;
            return;
        }
        ProcessFrame(n);
        progress_->Update(n + 1, frames_->Count());
    }
}

void Job::Finish() {
    host_->SetSaving(false);
    writer_->Finish(targetW_, targetH_);
    session_->Exit();
    progress_->Clear();
}

void Job::CloseAfterError() {
    if (progress_) progress_->Clear();
    if (host_) host_->SetSaving(false);
    // The file stays valid with the frames done; a second failure (the pipe is still closed)
    // changes nothing the first did not already report.
    if (writer_) {
        try {
            writer_->Finish(targetW_, targetH_);
        } catch (const std::exception&) {
        }
    }
    if (session_) session_->Exit();
}

int Job::Run() {
    OpenInput();
    StartFilter();
    writer_ = OpenWriter(options_, OutputHeader(options_, source_.header));
    progress_ = std::make_unique<Progress>(!options_.quiet && ::isatty(STDERR_FILENO) != 0);
    try {
        ProcessFrames();
        if (!interrupted_ && frames_->PendingError()) std::rethrow_exception(frames_->PendingError());
        if (!interrupted_ && options_.snapshot && !snapshotWritten_) {
            throw UsageError("--snapshot: frame " + std::to_string(options_.snapshot->frame) +
                             " is beyond the clip (" + std::to_string(writer_->FramesWritten()) + " frames)");
        }
        Finish();
    } catch (...) {
        CloseAfterError();
        throw;
    }
    const int64_t written = writer_->FramesWritten();
    if (interrupted_) {
        std::fprintf(stderr, "quillervantis: interrupted; %s holds the %lld frames done\n", writer_->Name().c_str(),
                     static_cast<long long>(written));
        return kExitInterrupted;
    }
    if (!options_.quiet) {
        std::fprintf(stderr, "quillervantis: %s: %s %s -> %s %s\n",
                     Progress::FormatSummary(written, progress_->Seconds()).c_str(), source_.reader->Name().c_str(),
                     Size(frames_->Width(), frames_->Height()).c_str(), writer_->Name().c_str(),
                     Size(outW_ > 0 ? outW_ : targetW_, outH_ > 0 ? outH_ : targetH_).c_str());
    }
    return 0;
}

}  // namespace

int RunJob(const Options& options) {
    Job job(options);
    return job.Run();
}

}  // namespace qv::cli
