#include "sync/install/font_registration.h"

namespace quorvane {

RegistrationOutcome RegistrationOutcome::Success(std::string valueName, std::string replaced) {
  RegistrationOutcome outcome;
  outcome.kind = Kind::Registered;
  outcome.valueName = std::move(valueName);
  outcome.replaced = std::move(replaced);
  return outcome;
}

RegistrationOutcome RegistrationOutcome::NoFont(std::string why) {
  RegistrationOutcome outcome;
  outcome.kind = Kind::NotAFont;
  outcome.notAFont = std::move(why);
  return outcome;
}

RegistrationOutcome RegistrationOutcome::Failure(FileError error) {
  RegistrationOutcome outcome;
  outcome.kind = Kind::Failed;
  outcome.error = error;
  return outcome;
}

RegistrationOutcome RegistrationOutcome::InConflict(std::string valueName, std::string other) {
  RegistrationOutcome outcome;
  outcome.kind = Kind::Conflict;
  outcome.valueName = std::move(valueName);
  outcome.other = std::move(other);
  return outcome;
}

namespace {

// C0, DEL and C1 (C2 80-C2 9F): a value name holding one would carry it into
// every program that lists the Fonts key, and onto consoles.
bool HoldsControlCharacter(std::string_view text) {
  for (size_t i = 0; i < text.size(); ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c < 0x20 || c == 0x7F) return true;
    if (c == 0xC2 && i + 1 < text.size() && (static_cast<unsigned char>(text[i + 1]) & 0xE0) == 0x80) return true;
  }
  return false;
}

}  // namespace

std::optional<RegistrationOutcome> RefusalOf(const FontReadResult& read) {
  if (const auto* notAFont = std::get_if<NotAFont>(&read)) return RegistrationOutcome::NoFont(NotAFontText(*notAFont));
  // For registration, opening the font is part of reading it.
  if (const auto* error = std::get_if<FileError>(&read)) {
    return RegistrationOutcome::Failure(FileError{FileStep::Read, error->code, error->kind});
  }
  if (HoldsControlCharacter(RegistryValueName(std::get<FontFileInfo>(read)))) {
    return RegistrationOutcome::Failure(FileError{FileStep::Read, 0, FileErrorKind::ControlCharacter});
  }
  return std::nullopt;
}

std::string RegistryValueName(const FontFileInfo& info) {
  if (info.format == FontFormat::WindowsBitmap) {
    // "FONTRES 100,96,96 : MS Sans Serif 8,10,12": what follows the colon.
    const size_t colon = info.description.find(':');
    if (colon != std::string::npos) {
      std::string named = info.description.substr(colon + 1);
      while (!named.empty() && named.front() == ' ') named.erase(named.begin());
      while (!named.empty() && named.back() == ' ') named.pop_back();
      if (!named.empty()) return named;
    }
    std::string name = info.faces.front().family;
    for (size_t i = 0; i < info.faces.front().pointSizes.size(); ++i) {
      name += i == 0 ? ' ' : ',';
      name += std::to_string(info.faces.front().pointSizes[i]);
    }
    return name;
  }
  std::string name;
  for (const FontFace& face : info.faces) {
    if (!name.empty()) name += " & ";
    name += face.fullName;
  }
  return name + (info.format == FontFormat::OpenType ? " (OpenType)" : " (TrueType)");
}

}  // namespace quorvane
