#include "info_report.h"

#include <iomanip>
#include <ostream>

#include "desktop.h"
#include "host/sliders.h"

namespace qv::cli {

namespace {

constexpr const char* kSettingsFileName = "quillervantis.ini";

void PrintSliders(const FilterSession& session, std::ostream& out) {
    out << "sliders (name, default, minimum..maximum):\n";
    for (int i = 0; i < session.SliderCount(); ++i) {
        const SliderRange r = session.Range(i);
        out << "  " << std::left << std::setw(10) << session.SliderName(i) << std::right << std::setw(6)
            << session.SliderDefault(i) << "  " << r.minimum << ".." << r.maximum << "\n";
    }
}

void PrintPresets(FilterSession& session, std::ostream& out) {
    const int size = session.SliderIndex(host::kSliderSpecs[host::kSize].name);
    const int width = session.SliderIndex(host::kSliderSpecs[host::kWidth].name);
    const int height = session.SliderIndex(host::kSliderSpecs[host::kHeight].name);
    if (size < 0 || width < 0 || height < 0) return;
    const SliderRange r = session.Range(size);
    out << "presets (size slider; the host's " << PluginModule::ExecutableFolder() << kSettingsFileName << "):\n";
    if (r.maximum < r.minimum) {
        out << "  none\n";
        return;
    }
    const int32_t savedSize = session.Value(size);
    const int32_t savedWidth = session.Value(width);
    const int32_t savedHeight = session.Value(height);
    for (int32_t i = r.minimum; i <= r.maximum; ++i) {
        out << "  " << std::setw(2) << i << "  ";
        if (session.MoveSlider(size, i, host::kSizeSliderMoved)) {
            out << session.Value(width) << "x" << session.Value(height) << "\n";
        } else {
            out << "(the filter could not select it)\n";
        }
    }
    session.SetValue(size, savedSize);
    session.SetValue(width, savedWidth);
    session.SetValue(height, savedHeight);
}

// "Quillervantis[description]" -> "description"
std::string AdapterFromTitle(const std::string& title, const std::string& filterName) {
    const std::string prefix = filterName + "[";
    if (title.size() > prefix.size() + 1 && title.compare(0, prefix.size(), prefix) == 0 && title.back() == ']') {
        return title.substr(prefix.size(), title.size() - prefix.size() - 1);
    }
    return title;
}

void PrintAdapters(FilterSession& session, std::ostream& out) {
    const int adapter = session.SliderIndex(host::kSliderSpecs[host::kAdapter].name);
    if (adapter < 0) return;
    const SliderRange r = session.Range(adapter);
    out << "adapters (adapter slider):\n";
    const int32_t saved = session.Value(adapter);
    for (int32_t i = r.minimum; i <= r.maximum; ++i) {
        Desktop::Instance().SetWindowTitle("");
        const bool ok = session.MoveSlider(adapter, i, 0);
        const std::string title = Desktop::Instance().WindowTitle();
        out << "  " << std::setw(2) << i << "  ";
        if (ok && !title.empty()) {
            out << AdapterFromTitle(title, session.Descriptor().name) << "\n";
        } else {
            out << "adapter " << i << "\n";
        }
    }
    if (session.Value(adapter) != saved) session.MoveSlider(adapter, saved, 0);
}

}  // namespace

void PrintInfo(FilterSession& session, const std::string& modulePath, std::ostream& out) {
    const FilterDescriptor& d = session.Descriptor();
    if (d.information != nullptr) out << d.information << "\n";
    out << "name: " << d.name << "\n";
    out << "module: " << modulePath << "\n";
    PrintSliders(session, out);
    PrintPresets(session, out);
    PrintAdapters(session, out);
}

int RunInfo(const Options& options, std::ostream& out) {
    Desktop::Instance().AllowRetries(options.retryDevice);
    PluginModule module(options.plugin.empty() ? PluginModule::DefaultPath() : options.plugin);
    Host host(options.threads);
    FilterSession session(module, host);
    session.Init();
    PrintInfo(session, module.Path(), out);
    session.Exit();
    out.flush();
    return 0;
}

}  // namespace qv::cli
