#pragma once
// The picture a "Save graph" makes: the extension of the chosen name picks
// the format, so a name typed over the dialog's filter still decides.
#include <optional>
#include <string>

#include "core/station/i18n.h"

enum class TPictureFormat { Bitmap, Metafile, EnhancedMetafile };

// The save-picture dialog's filters in the current language (Qt form, ";;"
// between them) and its default extension.
std::string PictureFileFilters();
inline constexpr const char* kPictureDefaultSuffix = "bmp";
// The refusal of a name whose extension is none of the three; shown through Tr().
inline constexpr const char* kUnsupportedFileType = N_("Unsupported file type");

// ".bmp", ".wmf" or ".emf" in any case; nothing for another extension or none.
std::optional<TPictureFormat> PictureFormatForFile(const std::string& fileName);
