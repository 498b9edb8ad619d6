#include "Outfitter/output_safety.h"

#include <sys/stat.h>

namespace qv::ExportOutput {

namespace fs = std::filesystem;

namespace {

// The file of the recording folder (or the folder itself) that `output` names, if any.
std::optional<fs::path> recordingFileAt(const fs::path &directory, const fs::path &output) {
    std::error_code ec;
    if (!fs::exists(output, ec)) return std::nullopt;
    if (fs::equivalent(output, directory, ec)) return directory;
    for (const auto &entry : fs::directory_iterator(directory, ec))
        if (fs::equivalent(output, entry.path(), ec)) return entry.path();
    return std::nullopt;
}

std::string lowercase(std::string text) {
    for (char &c : text)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return text;
}

} // namespace

std::vector<std::string> acceptedExtensions(ExportPreset preset) {
    if (preset.fileType() == platform::media::FileType::quickTimeMovie) return {"mov", "qt"};
    return {"mp4", "m4v"};
}

std::vector<fs::path> sideFiles(const fs::path &movie, bool includeMarkdown) {
    std::vector<fs::path> files;
    if (includeMarkdown) files.push_back(fs::path(movie).replace_extension("md"));
    files.push_back(fs::path(movie).replace_extension("srt"));
    return files;
}

std::optional<std::string> problem(const fs::path &directory, const fs::path &movie,
                                   ExportPreset preset, bool includeMarkdown) {
    if (movie.filename().empty() || movie.filename() == "." || movie.filename() == "..")
        return movie.string() + " is not a file name; give the movie a file name.";
    // Following links: a link to a regular file is replaced like the file itself.
    struct stat st {};
    if (::stat(movie.c_str(), &st) == 0) {
        if (S_ISDIR(st.st_mode))
            return movie.string() + " is a folder; give the movie a file name.";
        if (!S_ISREG(st.st_mode))
            return movie.string() +
                   " is not a regular file (a device, FIFO or socket); choose another file name.";
    }
    if (auto own = recordingFileAt(directory, movie))
        return "The movie would replace " + own->string() +
               ", a file of the recording; choose another file name.";
    for (const fs::path &side : sideFiles(movie, includeMarkdown)) {
        const std::string kind = side.extension() == ".md" ? "report" : "caption file";
        if (side == movie)
            return "The " + kind + " " + side.string() +
                   " would replace the movie; choose a movie name that does not end in " +
                   side.extension().string() + ".";
        if (auto own = recordingFileAt(directory, side))
            return "The " + kind + " " + side.string() + " would replace " + own->string() +
                   ", a file of the recording; choose another file name.";
    }
    // A player or file manager that trusts the extension would take the movie for another kind.
    const std::string extension = lowercase(movie.extension().string());
    if (!extension.empty()) {
        const auto accepted = acceptedExtensions(preset);
        std::string list;
        for (const std::string &e : accepted) {
            if (extension == "." + e) return std::nullopt;
            list += (list.empty() ? "." : " or .") + e;
        }
        return movie.string() + ": the preset \"" + std::string(preset.rawValue()) + "\" writes " +
               (preset.fileType() == platform::media::FileType::quickTimeMovie
                    ? "a QuickTime movie"
                    : "an MPEG-4 movie") +
               ", so the file name must end in " + list + ".";
    }
    return std::nullopt;
}

} // namespace qv::ExportOutput
