#include "program.h"

#include <cerrno>
#include <cstring>
#include <new>
#include <stdexcept>
#include <utility>

#include "console.h"
#include "file_system.h"
#include "interrupts.h"
#include "standard_streams.h"

namespace d88 {

OptionEntry& OptionEntry::repeatable(std::size_t count, const char* counted) {
  maxCount = count;
  countedAs = counted;
  return *this;
}

OptionEntry& OptionEntry::alsoNamed(const char* otherLongName) {
  alias = otherLongName;
  return *this;
}

OptionEntry& OptionEntry::inForms(unsigned formBits, unsigned neededBits) {
  forms = formBits;
  neededIn = neededBits;
  return *this;
}

OptionEntry flagOption(char shortName, const char* longName, const char* help) {
  OptionEntry option;
  option.shortName = shortName;
  option.longName = longName;
  option.help = help;
  return option;
}

OptionEntry valueOption(char shortName, const char* longName, const char* valueName,
                        const char* missingNoun, const char* help) {
  OptionEntry option = flagOption(shortName, longName, help);
  option.valueName = valueName;
  option.missingNoun = missingNoun;
  return option;
}

OptionEntry outputFolderOption() {
  return valueOption('o', "output", "DIR", "a folder",
                     "write the files into DIR, made when missing (not its parents)");
}

Arguments::Arguments(const ProgramDefinition* definition, std::string calledAs)
    : definition_(definition),
      calledAs_(std::move(calledAs)),
      counts_(definition->options.size(), 0),
      values_(definition->options.size()) {}

std::size_t Arguments::indexOf(const char* longName) const {
  for (std::size_t k = 0; k < definition_->options.size(); ++k) {
    if (definition_->options[k].longName == longName) return k;
  }
  throw std::logic_error(std::string("no option --") + longName + " in the table of " +
                         definition_->name);
}

bool Arguments::has(const char* longName) const { return counts_[indexOf(longName)] > 0; }

const char* Arguments::value(const char* longName) const {
  const std::vector<const char*>& given = values_[indexOf(longName)];
  return given.empty() ? nullptr : given.back();
}

const std::vector<const char*>& Arguments::values(const char* longName) const {
  return values_[indexOf(longName)];
}

void Arguments::printUsage(std::FILE* stream) const {
  std::string line = "Usage: ";
  for (std::size_t i = 0; i < definition_->shortUsage.size(); ++i) {
    if (i > 0) line += " | ";
    line += calledAs_ + " " + definition_->shortUsage[i];
  }
  line += '\n';
  writeText(stream, line);
}

ParsedCommandLine parseCommandLine(const ProgramDefinition& definition, int argc, char** argv) {
  const char* argv0 = argc > 0 && argv[0] != nullptr ? argv[0] : nullptr;
  ParsedCommandLine parsed{
      Request::kUsage,
      Arguments(&definition, safeUtf8(argv0 != nullptr ? argv0 : definition.name)), nullptr, 0};
  Arguments& args = parsed.arguments;
  const auto refuse = [&parsed](Request request, const char* culprit, std::size_t option) {
    parsed.request = request;
    parsed.culprit = culprit;
    parsed.option = option;
    return parsed;
  };
  bool optionsEnded = false;
  for (int i = 1; i < argc; ++i) {
    const char* arg = argv[i];
    if (optionsEnded || arg[0] != '-' || arg[1] == '\0') {
      if (args.operands_.size() == definition.maxOperands && !definition.extraOperand.empty()) {
        return refuse(Request::kExtraOperand, arg, 0);
      }
      args.operands_.push_back(arg);
      continue;
    }
    const auto is = [arg](const char* name) { return std::strcmp(arg, name) == 0; };
    if (is("--")) {
      optionsEnded = true;
      continue;
    }
    if (is("--help") || is("-h")) return refuse(Request::kHelp, arg, 0);
    if (is("--version") || is("-V")) return refuse(Request::kVersion, arg, 0);
    bool known = false;
    for (std::size_t k = 0; k < definition.options.size() && !known; ++k) {
      const OptionEntry& option = definition.options[k];
      const std::string shortName =
          option.shortName != '\0' ? std::string{'-', option.shortName} : std::string();
      const std::string longName = "--" + option.longName;
      const std::string alias = option.alias.empty() ? std::string() : "--" + option.alias;
      const char* value = nullptr;
      if (option.valueName.empty()) {
        known = (!shortName.empty() && is(shortName.c_str())) || is(longName.c_str()) ||
                (!alias.empty() && is(alias.c_str()));
      } else {
        OptionMatch match = matchValueOption(argc, argv, &i,
                                             shortName.empty() ? nullptr : shortName.c_str(),
                                             longName.c_str(), &value);
        if (match == OptionMatch::kNone && !alias.empty()) {
          match = matchValueOption(argc, argv, &i, nullptr, alias.c_str(), &value);
        }
        if (match == OptionMatch::kMissingValue) return refuse(Request::kMissingValue, arg, k);
        known = match == OptionMatch::kValue;
      }
      if (!known) continue;
      if (option.maxCount > 1 && args.counts_[k] == option.maxCount) {
        return refuse(Request::kTooMany, arg, k);
      }
      ++args.counts_[k];
      if (value != nullptr) args.values_[k].push_back(value);
    }
    if (!known) return refuse(Request::kUnknownOption, arg, 0);
  }
  const std::size_t operands = args.operands_.size();
  parsed.request =
      operands < definition.minOperands || operands > definition.maxOperands ? Request::kUsage
                                                                             : Request::kWork;
  return parsed;
}

std::string helpName(const ProgramDefinition& definition, const char* argv0) {
  std::string name = argv0 != nullptr ? argv0 : "";
  name.erase(0, nameOffset(name));
#ifdef _WIN32
  // The shell runs d88cut.exe for d88cut, and either may be typed: --help
  // shows the command's name, as a user would type it anywhere.
  const std::size_t dot = name.size() >= 4 ? name.size() - 4 : std::string::npos;
  if (dot != std::string::npos && dot > 0 && _stricmp(name.c_str() + dot, ".exe") == 0) {
    name.erase(dot);
  }
#endif
  return safeUtf8(name.empty() ? definition.name : name);
}

namespace {

// One option as the usage line shows it: "[-o|--output DIR]", "--svg".
std::string usageOf(const OptionEntry& option, bool needed) {
  std::string text;
  if (option.shortName != '\0') text += std::string{'-', option.shortName} + "|";
  text += "--" + option.longName;
  if (!option.alias.empty()) text += "|--" + option.alias;
  if (!option.valueName.empty()) text += " " + option.valueName;
  if (needed) return text;
  return "[" + text + "]" + (option.maxCount > 1 ? "..." : "");
}

// One entry of the option list: its names, then its help from `column` (or
// two spaces after longer names), each further line of help under the first.
std::string helpEntry(const std::string& names, const std::string& help, std::size_t column) {
  std::string text = "  " + names;
  const std::size_t indent = text.size() + 2 > column ? text.size() + 2 : column;
  text.append(indent - text.size(), ' ');
  for (std::size_t start = 0;;) {
    const std::size_t end = help.find('\n', start);
    text.append(help, start, end == std::string::npos ? std::string::npos : end - start);
    text += '\n';
    if (end == std::string::npos) break;
    start = end + 1;
    text.append(indent, ' ');
  }
  return text;
}

}  // namespace

std::string helpText(const ProgramDefinition& definition, const std::string& name) {
  std::string text = "Usage: ";
  for (std::size_t form = 0; form < definition.usageForms.size(); ++form) {
    if (form > 0) text += " | ";
    text += name;
    const unsigned bit = form < 32 ? 1u << form : 0u;
    for (const OptionEntry& option : definition.options) {
      if ((option.forms & bit) != 0) text += " " + usageOf(option, (option.neededIn & bit) != 0);
    }
    text += " [--] " + definition.usageForms[form];
  }
  text += "\n" + definition.description + "\n";
  for (const OptionEntry& option : definition.options) {
    std::string names;
    if (option.shortName != '\0') names += std::string{'-', option.shortName} + ", ";
    names += "--" + option.longName;
    if (!option.alias.empty()) names += ", --" + option.alias;
    if (!option.valueName.empty()) names += " " + option.valueName;
    text += helpEntry(names, option.help, definition.helpColumn);
  }
  text += helpEntry("-h, --help", "show this help and exit", definition.helpColumn);
  text += helpEntry("-V, --version", "show the version and exit", definition.helpColumn);
  text += helpEntry("--", definition.endOfOptionsHelp, definition.helpColumn);
  return text + "\n" + definition.epilogue;
}

namespace {

// The end of --help or --version: the exit status, after the program's
// message on standard error when standard output could not be written.
int finishStandardOutput(const ProgramDefinition& definition) {
  if (definition.writeFailurePrefix.empty()) {
    return standardOutputWritten() ? 0 : definition.errorStatus;
  }
  if (const int error = flushStandardOutput()) {
    print(stderr, "%s: %s\n", definition.writeFailurePrefix.c_str(), std::strerror(error));
    return definition.errorStatus;
  }
  return 0;
}

}  // namespace

int answer(const ProgramDefinition& definition, const ParsedCommandLine& parsed,
           const char* argv0) {
  const char* name = definition.name.c_str();
  const std::string culprit = parsed.culprit != nullptr ? safeUtf8(parsed.culprit) : std::string();
  switch (parsed.request) {
    case Request::kWork:
      break;
    case Request::kUsage:
      parsed.arguments.printUsage(stderr);
      return definition.errorStatus;
    case Request::kHelp:
      writeText(stdout, helpText(definition, helpName(definition, argv0)));
      return finishStandardOutput(definition);
    case Request::kVersion:
      writeText(stdout, definition.name + " " + definition.version + "\n");
      return finishStandardOutput(definition);
    case Request::kUnknownOption:
      print(stderr, "%s: unknown option %s (%s --help lists the options)\n", name,
            culprit.c_str(), name);
      return definition.errorStatus;
    case Request::kMissingValue: {
      const OptionEntry& option = definition.options[parsed.option];
      const std::string shown =
          definition.missingValueNamesOption ? "--" + option.longName : culprit;
      print(stderr, "%s: option %s needs %s (%s --help lists the options)\n", name, shown.c_str(),
            option.missingNoun.c_str(), name);
      return definition.errorStatus;
    }
    case Request::kTooMany: {
      const OptionEntry& option = definition.options[parsed.option];
      print(stderr, "%s: at most %d %s may be given\n", name, static_cast<int>(option.maxCount),
            option.countedAs.c_str());
      return definition.errorStatus;
    }
    case Request::kExtraOperand: {
      std::string message = definition.extraOperand;
      const std::size_t slot = message.find("%s");
      if (slot != std::string::npos) message.replace(slot, 2, culprit);
      print(stderr, "%s: %s\n", name, message.c_str());
      return definition.errorStatus;
    }
  }
  return 0;
}

int runProgram(const ProgramDefinition& definition, int argc, char** argv,
               int (*work)(const Arguments& arguments)) {
  try {
    useUtf8Arguments(&argc, &argv);
    if (definition.atStart != nullptr) definition.atStart();
    if (definition.ignoresWriteSignals) ignoreWriteSignals();
    const ParsedCommandLine parsed = parseCommandLine(definition, argc, argv);
    if (parsed.request != Request::kWork) {
      return answer(definition, parsed, argc > 0 ? argv[0] : nullptr);
    }
    return work(parsed.arguments);
  } catch (const std::bad_alloc&) {
    // Raw bytes: converting them for a console would need memory.
    writeStandardBytes(stderr, definition.outOfMemory.data(), definition.outOfMemory.size());
    writeStandardBytes(stderr, "\n", 1);
    return definition.errorStatus;
  }
}

}  // namespace d88
