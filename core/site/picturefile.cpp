#include "core/site/picturefile.h"

#include <cctype>

namespace {

// From the last dot of the last name in the path, dot included; "" without one.
std::string Extension(const std::string& fileName) {
    const std::size_t slash = fileName.find_last_of('/');
    const std::size_t dot = fileName.find_last_of('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return {};
    return fileName.substr(dot);
}

}  // namespace

std::string PictureFileFilters() {
    return Tr(N_("Bitmaps")) + " (*.bmp);;" + Tr(N_("Metafiles")) + " (*.wmf);;" + Tr(N_("Enhanced Metafiles")) +
           " (*.emf)";
}

std::optional<TPictureFormat> PictureFormatForFile(const std::string& fileName) {
    std::string ext = Extension(fileName);
    for (char& c : ext) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    if (ext == ".BMP") return TPictureFormat::Bitmap;
    if (ext == ".WMF") return TPictureFormat::Metafile;
    if (ext == ".EMF") return TPictureFormat::EnhancedMetafile;
    return std::nullopt;
}
