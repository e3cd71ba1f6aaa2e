#include "BuilderCli.h"

#include <cstring>
#include <exception>
#include <system_error>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#endif

#include "BuilderText.h"
#include "InstallJournal.h"
#include "PackageBuilder.h"
#include "PackageContents.h"
#include "PackageFormat.h"
#include "PackageInspector.h"
#include "PackageWriter.h"
#include "PayloadCodec.h"
#include "ProjectProblems.h"
#include "Signing.h"
#include "StarterProject.h"

namespace fs = std::filesystem;

namespace nvbuilder {

namespace {

// The message on one line.
std::string OneLine(std::string text) {
  for (auto& c : text)
    if (c == '\n' || c == '\r') c = ' ';
  while (!text.empty() && text.back() == ' ') text.pop_back();
  return text;
}

const char kMainHelp[] =
    "Usage: setup-builder COMMAND [OPTIONS]\n"
    "Makes setup packages from a setup project and the files it names.\n"
    "\n"
    "Commands:\n"
    "  new DIR             write a commented starter project into DIR\n"
    "  build PROJECT.xml   check the project and write the full package and the online stub it names\n"
    "  list PACKAGE.exe    what a package installs: files, registry values, shortcuts, run entries\n"
    "  extract PACKAGE.exe -o DIR\n"
    "                      write a full package's files into DIR as they will be installed\n"
    "  inspect PACKAGE.exe show the package kind, signature, icon sizes, version information,\n"
    "                      its resources and its project\n"
    "  decode FILE         payload or uninstall data file to its plain content (a package: its project)\n"
    "  encode FILE         plain content to the payload form\n"
    "\n"
    "\"setup-builder COMMAND --help\" describes a command's options.\n";

const char kBuildHelp[] =
    "Usage: setup-builder build PROJECT.xml [--runtime Setup.exe] [--uninstaller Uninstall.exe | --no-uninstaller]\n"
    "                           [--out DIR] [--jobs N] [--sign COMMAND] [--online-trust pin|signer|none]\n"
    "                           [--warnings-as-errors] [--quiet]\n"
    "Checks the whole setup project and reports every problem as FILE:LINE:COLUMN: error (or\n"
    "warning): message. Without errors it expands the file masks and variables, packs every\n"
    "file and writes the packages named by FullSetupFile and MiniSetupFile (relative to the\n"
    "project's folder; an empty name is not made).\n"
    "\n"
    "  --runtime FILE      the setup runtime to copy (default: the builder's own 32-bit Setup.exe)\n"
    "  --uninstaller FILE  add FILE as {app}\\Uninstall.exe unless the project installs one\n"
    "                      (default: the Uninstall.exe of the default runtime, or the one beside\n"
    "                      --runtime); it must be built for the same machine as the runtime\n"
    "  --no-uninstaller    add no uninstaller (the product then cannot be uninstalled by it)\n"
    "  --out DIR           write both packages into DIR instead\n"
    "  --jobs N            compress on N threads (default: every core); the output is the same\n"
    "  --sign COMMAND      sign the bundled uninstaller before it is packed and each package\n"
    "                      after its last change: COMMAND runs through the shell with {file}\n"
    "                      standing for the (quoted) file; it must leave that file signed, e.g.\n"
    "                      \"osslsigncode sign -pkcs12 cert.p12 -pass PW -h sha256 -in {file}\n"
    "                      -out {file}.signed && mv {file}.signed {file}\"\n"
    "  --online-trust RULE how the online stub checks the full package it downloads:\n"
    "                      pin     its size and SHA-256 as built here (the default when the\n"
    "                              build makes the full package); a rebuilt package needs new stubs\n"
    "                      signer  a valid Authenticode signature by the stub's own signer\n"
    "                              (needs --sign); the package may be replaced and re-signed\n"
    "                      none    only its project (warned of; the default for a stub alone)\n"
    "  --warnings-as-errors  refuse a project with warnings too\n"
    "  --quiet             print nothing but problems\n"
    "The same project, files and builder give byte-identical packages (signing aside);\n"
    "SOURCE_DATE_EPOCH, when set, is the latest file time a package records.\n"
    "The packages and the bundled uninstaller get the project's icon (IconFile) and\n"
    "version information (Version, ProductName, CompanyName, LegalCopyright,\n"
    "InstallFileDescription, UninstallFileDescription).\n";

const char kNewHelp[] =
    "Usage: setup-builder new DIR\n"
    "Writes DIR/project.xml (a commented setup project with a new product GUID),\n"
    "DIR/files/readme.txt and DIR/license.txt. \"setup-builder build DIR/project.xml\"\n"
    "builds it as it is. Nothing that exists is overwritten.\n";

const char kListHelp[] =
    "Usage: setup-builder list PACKAGE.exe\n"
    "Prints what the package installs: every file with its destination and size,\n"
    "the registry values, shortcuts and run entries (an online stub: the address it downloads).\n";

const char kExtractHelp[] =
    "Usage: setup-builder extract PACKAGE.exe -o DIR\n"
    "Writes every file of a full package below DIR as it will be installed: a folder\n"
    "per constant ({app}, {pf}, ...) and the path below it, for example\n"
    "DIR/{app}/docs/guide.txt.\n";

const char kInspectHelp[] =
    "Usage: setup-builder inspect PACKAGE.exe\n"
    "Prints the package kind (full, online stub, none), whether it is signed, its icon\n"
    "sizes and version information, an online stub's check of its download (the pinned\n"
    "size and SHA-256, or the signer rule), every RCDATA resource with its stored and\n"
    "decoded size, and the decoded project as XML.\n";

const char kDecodeHelp[] =
    "Usage: setup-builder decode FILE [-o OUT]\n"
    "Decodes a payload or an uninstall data file (Uninstall.da1, Uninstall.da2) to its\n"
    "plain content, written to OUT or to standard output. Of a package it writes the\n"
    "project (see also \"list\" and \"extract\"); of an install journal (Uninstall.jnl)\n"
    "one line per record.\n";

const char kEncodeHelp[] =
    "Usage: setup-builder encode FILE [-o OUT]\n"
    "Encodes plain content into the payload form (zlib level 9, masked), written to OUT\n"
    "or to standard output.\n";

class EUsage : public EBuildError {
public:
  using EBuildError::EBuildError;
};

bool IsHelp(const std::string& a) { return a == "--help" || a == "-h" || a == "/?"; }

fs::path ArgPath(const std::string& a) { return ToPath(FromUtf8(a)); }

void WriteStdout(std::FILE* out, const std::string& bytes) {
#ifdef _WIN32
  if (out == stdout) {
    std::fflush(out);
    _setmode(_fileno(out), _O_BINARY);
  }
#endif
  if (std::fwrite(bytes.data(), 1, bytes.size(), out) != bytes.size()) throw EBuildError("standard output: write error");
  std::fflush(out);
}

// The value after an option, or a usage error.
const std::string& Value(const std::vector<std::string>& args, std::size_t& i, const std::string& command) {
  if (i + 1 >= args.size()) throw EUsage(command + ": " + args[i] + " needs a value");
  return args[++i];
}

int Build(const std::vector<std::string>& args, std::FILE* out, std::FILE* err) {
  TBuildOptions options;
  options.Out = out;
  options.Err = err;
  bool haveRuntime = false, haveUninstaller = false, noUninstaller = false;
  for (std::size_t i = 1; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (IsHelp(a)) {
      std::fputs(kBuildHelp, out);
      return 0;
    } else if (a == "--runtime") {
      options.Runtime = ArgPath(Value(args, i, "build"));
      haveRuntime = true;
    } else if (a == "--out") {
      options.OutDir = ArgPath(Value(args, i, "build"));
    } else if (a == "--uninstaller") {
      options.Uninstaller = ArgPath(Value(args, i, "build"));
      haveUninstaller = true;
    } else if (a == "--no-uninstaller") {
      noUninstaller = true;
    } else if (a == "--jobs" || a == "-j") {
      const std::string& v = Value(args, i, "build");
      char* end = nullptr;
      long n = std::strtol(v.c_str(), &end, 10);
      if (v.empty() || *end || n < 1 || n > 1024) throw EUsage("build: --jobs needs a number from 1 to 1024, not \"" + v + "\"");
      options.Jobs = static_cast<unsigned>(n);
    } else if (a == "--sign") {
      options.SignCommand = Value(args, i, "build");
      if (options.SignCommand.find(SignFilePlaceholder) == std::string::npos)
        throw EUsage("build: the --sign command has no " + std::string(SignFilePlaceholder) + " for the file to sign");
    } else if (a == "--online-trust") {
      const std::string& v = Value(args, i, "build");
      if (!ParseOnlineTrust(v, options.OnlineTrust))
        throw EUsage("build: --online-trust takes pin, signer or none, not \"" + v + "\"");
    } else if (a == "--warnings-as-errors") {
      options.WarningsAsErrors = true;
    } else if (a == "--quiet" || a == "-q") {
      options.Quiet = true;
    } else if (!a.empty() && a[0] == '-') {
      throw EUsage("build: unknown option " + a);
    } else if (options.Project.empty()) {
      options.Project = ArgPath(a);
    } else {
      throw EUsage("build: more than one project given (" + a + ")");
    }
  }
  if (options.Project.empty()) throw EUsage("build: no project file given");
  if (haveUninstaller && noUninstaller) throw EUsage("build: --uninstaller and --no-uninstaller exclude each other");
  if (!haveRuntime) {
    const TRuntimePair pair = DefaultRuntimePair();
    if (pair.Runtime.empty())
      throw EBuildError("no runtime: none was given and none was found (" + pair.Searched +
                        "); give the 32-bit Setup.exe with --runtime");
    options.Runtime = pair.Runtime;
    if (!haveUninstaller && !noUninstaller) {
      if (pair.Uninstaller.empty())
        throw EBuildError(PathText(pair.Runtime) + ": no Uninstall.exe comes with this runtime: give one with "
                          "--uninstaller, or build without with --no-uninstaller");
      options.Uninstaller = pair.Uninstaller;
    }
  } else if (!haveUninstaller && !noUninstaller) {
    std::error_code ec;
    const fs::path beside = options.Runtime.parent_path() / UninstallerFileName;
    if (!fs::is_regular_file(beside, ec))
      throw EUsage("build: --runtime is given without --uninstaller: give the Uninstall.exe of the same build with "
                   "--uninstaller, or build without one with --no-uninstaller");
    options.Uninstaller = beside;
  }
  BuildPackages(options);
  return 0;
}

// The one package argument of list and extract (and -o DIR for extract).
fs::path PackageArgument(const std::vector<std::string>& args, const char* help, std::FILE* out, fs::path* outDir,
                         bool& helped) {
  const std::string command = args[0];
  fs::path package;
  helped = false;
  for (std::size_t i = 1; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (IsHelp(a)) {
      std::fputs(help, out);
      helped = true;
      return {};
    } else if (outDir && (a == "-o" || a == "--out")) {
      *outDir = ArgPath(Value(args, i, command));
    } else if (!a.empty() && a[0] == '-') {
      throw EUsage(command + ": unknown option " + a);
    } else if (package.empty()) {
      package = ArgPath(a);
    } else {
      throw EUsage(command + ": more than one package given (" + a + ")");
    }
  }
  if (package.empty()) throw EUsage(command + ": no package given");
  if (outDir && outDir->empty()) throw EUsage(command + ": no folder given (-o DIR)");
  return package;
}

int List(const std::vector<std::string>& args, std::FILE* out) {
  bool helped = false;
  const fs::path package = PackageArgument(args, kListHelp, out, nullptr, helped);
  if (helped) return 0;
  WriteStdout(out, FormatContents(TPackageReader(package)));
  return 0;
}

int Extract(const std::vector<std::string>& args, std::FILE* out) {
  bool helped = false;
  fs::path dir;
  const fs::path package = PackageArgument(args, kExtractHelp, out, &dir, helped);
  if (helped) return 0;
  TPackageReader reader(package);
  try {
    ExtractFiles(reader, dir, out);
  } catch (const EBuildError& e) {
    throw EBuildError(PathText(package) + ": " + e.what());
  }
  return 0;
}

int New(const std::vector<std::string>& args, std::FILE* out) {
  fs::path dir;
  for (std::size_t i = 1; i < args.size(); ++i) {
    if (IsHelp(args[i])) {
      std::fputs(kNewHelp, out);
      return 0;
    }
    if (!args[i].empty() && args[i][0] == '-') throw EUsage("new: unknown option " + args[i]);
    if (!dir.empty()) throw EUsage("new: more than one folder given (" + args[i] + ")");
    dir = ArgPath(args[i]);
  }
  if (dir.empty()) throw EUsage("new: no folder given");
  WriteStarterProject(dir);
  std::fprintf(out, "wrote %s; build it with: setup-builder build %s\n", PathText(dir / "project.xml").c_str(),
               PathText(dir / "project.xml").c_str());
  return 0;
}

int Inspect(const std::vector<std::string>& args, std::FILE* out) {
  fs::path package;
  for (std::size_t i = 1; i < args.size(); ++i) {
    if (IsHelp(args[i])) {
      std::fputs(kInspectHelp, out);
      return 0;
    }
    if (!args[i].empty() && args[i][0] == '-') throw EUsage("inspect: unknown option " + args[i]);
    if (!package.empty()) throw EUsage("inspect: more than one package given (" + args[i] + ")");
    package = ArgPath(args[i]);
  }
  if (package.empty()) throw EUsage("inspect: no package given");
  WriteStdout(out, FormatInspection(InspectPackage(package)));
  return 0;
}

// An install journal as text: one line per record, and whether it is cut
// short or unfinished.
std::string JournalText(const std::string& bytes) {
  TJournalContents journal;
  try {
    journal = DecodeJournal(bytes);
  } catch (const EJournalError& e) {
    throw EBuildError(e.what());
  }
  std::string text;
  for (const TJournalEntry& entry : journal.Entries) text += Utf8Encode(JournalEntryText(entry)) + "\n";
  if (journal.Cut) text += "(the last record is cut short)\n";
  if (!journal.Committed()) text += "(unfinished: the install did not commit)\n";
  return text;
}

int Transcode(const std::vector<std::string>& args, std::FILE* out, bool decode) {
  const std::string command = decode ? "decode" : "encode";
  fs::path input, output;
  bool haveOutput = false;
  for (std::size_t i = 1; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (IsHelp(a)) {
      std::fputs(decode ? kDecodeHelp : kEncodeHelp, out);
      return 0;
    } else if (a == "-o" || a == "--out") {
      output = ArgPath(Value(args, i, command));
      haveOutput = true;
    } else if (!a.empty() && a[0] == '-' && a != "-") {
      throw EUsage(command + ": unknown option " + a);
    } else if (input.empty()) {
      input = ArgPath(a);
    } else {
      throw EUsage(command + ": more than one input given (" + a + ")");
    }
  }
  if (input.empty()) throw EUsage(command + ": no input file given");
  std::string data = ReadWholeFile(input);
  std::string result;
  try {
    if (decode && data.compare(0, 2, "MZ") == 0)
      result = TPackageReader(input).ProjectXml();
    else if (decode && data.compare(0, JournalHeader().size() - 4, JournalHeader(), 0, JournalHeader().size() - 4) == 0)
      result = JournalText(data);
    else
      result = decode ? DecodePayload(data) : EncodePayload(data);
  } catch (const EBuildError& e) {
    throw EBuildError(PathText(input) + ": " + e.what());
  }
  if (haveOutput && output != "-")
    WriteFileAtomically(output, result);
  else
    WriteStdout(out, result);
  return 0;
}

}  // namespace

int RunBuilder(const std::vector<std::string>& args, std::FILE* out, std::FILE* err) {
  try {
    if (args.empty()) throw EUsage("no command given; see \"setup-builder --help\"");
    const std::string& command = args[0];
    if (IsHelp(command) || command == "help") {
      std::fputs(kMainHelp, out);
      return 0;
    }
    if (command == "build") return Build(args, out, err);
    if (command == "new") return New(args, out);
    if (command == "list") return List(args, out);
    if (command == "extract") return Extract(args, out);
    if (command == "inspect") return Inspect(args, out);
    if (command == "decode") return Transcode(args, out, true);
    if (command == "encode") return Transcode(args, out, false);
    throw EUsage("unknown command \"" + command + "\"; see \"setup-builder --help\"");
  } catch (const EUsage& e) {
    std::fprintf(err, "setup-builder: %s\n", OneLine(e.what()).c_str());
    return 2;
  } catch (const EProjectProblems& e) {
    for (const std::string& line : e.Lines) std::fprintf(err, "%s\n", OneLine(line).c_str());
    std::fprintf(err, "setup-builder: %s\n", OneLine(e.Summary).c_str());
    return 1;
  } catch (const std::exception& e) {
    std::fprintf(err, "setup-builder: %s\n", OneLine(e.what()).c_str());
    return 1;
  }
}

}  // namespace nvbuilder
