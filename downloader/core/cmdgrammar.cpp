#include "core/cmdgrammar.h"
#include "core/cmdline.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdlib>

namespace tk::cli {

namespace {

const char* modeSwitch(Mode mode)
{
    static constexpr const char* modes[] = {"-s", "-n", "-k"};
    return modes[static_cast<int>(mode)];
}

std::string lower(std::string s)
{
    std::transform(s.begin(), s.end(), s.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return s;
}

std::string trimBlanks(const std::string& s)
{
    const auto b = s.find_first_not_of(' ');
    if (b == std::string::npos)
        return {};
    const auto e = s.find_last_not_of(' ');
    return s.substr(b, e - b + 1);
}

std::vector<std::string> splitAt(const std::string& s, char sep)
{
    std::vector<std::string> parts;
    std::string::size_type from = 0;
    for (;;) {
        const auto at = s.find(sep, from);
        parts.push_back(s.substr(from, at == std::string::npos ? std::string::npos : at - from));
        if (at == std::string::npos)
            return parts;
        from = at + 1;
    }
}

// 1-based substring as the window's text functions take it: a start behind the
// end gives an empty text; a negative length has no meaning and fails.
std::optional<std::string> mid(const std::string& s, int start, std::optional<int> length = {})
{
    if (start < 1 || (length && *length < 0))
        return std::nullopt;
    if (start > static_cast<int>(s.size()))
        return std::string();
    if (!length)
        return s.substr(static_cast<size_t>(start - 1));
    return s.substr(static_cast<size_t>(start - 1), static_cast<size_t>(*length));
}

std::optional<int> toInt16(const std::string& text)
{
    const std::string t = trimBlanks(text);
    if (t.empty())
        return std::nullopt;
    size_t i = (t[0] == '-' || t[0] == '+') ? 1 : 0;
    if (i == t.size() || t.size() - i > 6)
        return std::nullopt;
    for (size_t j = i; j < t.size(); ++j)
        if (!std::isdigit(static_cast<unsigned char>(t[j])))
            return std::nullopt;
    const long v = std::strtol(t.c_str(), nullptr, 10);
    if (v < -32768 || v > 32767)
        return std::nullopt;
    return static_cast<int>(v);
}

std::optional<double> toNumber(const std::string& text)
{
    const std::string t = trimBlanks(text);
    if (t.empty())
        return std::nullopt;
    errno = 0;
    char* end = nullptr;
    const double v = std::strtod(t.c_str(), &end);
    if (errno != 0 || end != t.c_str() + t.size() || !std::isfinite(v))
        return std::nullopt;
    return v;
}

bool contains(const std::vector<std::string>& list, const std::string& s)
{
    return std::find(list.begin(), list.end(), s) != list.end();
}

enum class ValueKind { None, Fixed, ToNextSwitch };

struct SwitchSpec {
    const char* word;
    ValueKind kind;
    int length; // for Fixed
};

// Table order matters: the first matching entry wins.
const std::vector<SwitchSpec>& switchSpecs(Mode mode)
{
    static const std::vector<SwitchSpec> network{
        {" -ip", ValueKind::ToNextSwitch, 0}, {" -type", ValueKind::Fixed, 1},
        {" -kill", ValueKind::None, 0},       {" -run", ValueKind::None, 0},
        {" -reboot", ValueKind::None, 0},     {" -send", ValueKind::None, 0},
        {" -silent", ValueKind::None, 0},     {" -permissions", ValueKind::Fixed, 3},
        {" -owner", ValueKind::Fixed, 4}};
    static const std::vector<SwitchSpec> serial{
        {" -ksyn", ValueKind::None, 0},         {" -port", ValueKind::ToNextSwitch, 0},
        {" -baud", ValueKind::ToNextSwitch, 0}, {" -timeout", ValueKind::ToNextSwitch, 0},
        {" -silent", ValueKind::None, 0},       {" -send", ValueKind::None, 0},
        {" -type", ValueKind::ToNextSwitch, 0}, {" -restart", ValueKind::ToNextSwitch, 0}};
    static const std::vector<SwitchSpec> ksyn{{" -port", ValueKind::ToNextSwitch, 0},
                                              {" -baud", ValueKind::ToNextSwitch, 0},
                                              {" -timeout", ValueKind::ToNextSwitch, 0},
                                              {" -type", ValueKind::ToNextSwitch, 0},
                                              {" -restart", ValueKind::ToNextSwitch, 0}};
    switch (mode) {
    case Mode::Network: return network;
    case Mode::Serial: return serial;
    case Mode::Ksyn: return ksyn;
    }
    return network;
}

class Parser {
public:
    Parser(Mode mode, const StartValues& start) : m_mode(mode), m_start(start)
    {
        m_plan.mode = mode;
        if (mode == Mode::Serial) {
            m_plan.portText = start.portText;
            m_plan.baudText = start.baudText;
            m_plan.timeoutText.assign(1, '4'); // the default wait of the tool
        }
    }

    Plan run(const std::string& args, const std::string& raw, const Environment& env);

private:
    bool apply(int k, int s, int p);
    bool applyNetwork(const std::string& word, const std::string& value);
    bool applySerial(const std::string& word, const std::string& value);
    Plan failed()
    {
        if (m_mode == Mode::Network)
            m_plan.abandoned = true;
        else
            m_plan.exitCode = -1;
        return m_plan;
    }

    Mode m_mode;
    const StartValues& m_start;
    Plan m_plan;
    std::string m_a;
};

Plan Parser::run(const std::string& args, const std::string& raw, const Environment& env)
{
    const auto table = switchTable(m_mode);
    m_a = trimBlanks(args);

    // The file name: the arguments as given when they name an existing entry;
    // else quoted, or everything up to the first switch.
    std::string name;
    int scanStart = static_cast<int>(m_a.size()) + 1;
    const auto given = fileArgument(m_mode, env.arguments);
    const std::string givenPath =
        given ? longPathName(given->name, env.lookup, env.workingDir) : std::string();
    if (!givenPath.empty()) {
        name = givenPath;
        const std::string rest = trimBlanks(given->rest);
        m_a = rest.empty() ? rest : ' ' + rest;
        scanStart = 1;
    } else if (!m_a.empty() && m_a[0] == '"') {
        const auto close = m_a.find('"', 1);
        if (close == std::string::npos)
            return failed();
        name = m_a.substr(1, close - 1);
        m_a = m_a.substr(close + 1);
        scanStart = 1;
    } else {
        name = m_a;
        for (int p = 1; p <= static_cast<int>(m_a.size()); ++p) {
            if (findSwitchAt(m_a, p, table) >= 0) {
                name = m_a.substr(0, static_cast<size_t>(p - 1));
                scanStart = p;
                break;
            }
        }
    }
    if (givenPath.empty()) {
        name = trimBlanks(name);
        name.erase(std::remove(name.begin(), name.end(), '"'), name.end());
        name = longPathName(name, env.lookup, env.workingDir);
    }
    m_plan.fileName = name;

    if (m_mode == Mode::Network) {
        if (name.empty() || !env.isFile || !env.isFile(name)) {
            if (raw.find(" -silent") != std::string::npos) {
                m_plan.exitCode = -2;
                return m_plan;
            }
            // A launcher's action started with no file at all (a desktop's
            // "-n" with nothing after it) opens the tab with an empty box.
            const bool modeAlone =
                env.arguments.size() == 1 && env.arguments[0] == modeSwitch(m_mode);
            m_plan.invalidFileMessage = !modeAlone;
        }
        m_plan.setDefaultPermissions = true;
    } else if (m_mode == Mode::Ksyn && name.empty()) {
        m_plan.exitCode = -2;
        return m_plan;
    }

    // The switches: each one's value ends where the next switch starts.
    const int n = static_cast<int>(m_a.size());
    int prev = -1;
    int prevStart = scanStart;
    for (int p = scanStart; p <= n; ++p) {
        const int cur = findSwitchAt(m_a, p, table);
        if (cur == -1 && p != n)
            continue;
        if (!apply(prev, prevStart, p))
            return failed();
        prev = cur;
        prevStart = p;
    }

    if (m_mode == Mode::Serial) {
        const auto port = toInt16(m_plan.portText);
        const auto timeout = toNumber(m_plan.timeoutText);
        if (!port || !timeout)
            return failed();
        m_plan.port = *port;
        m_plan.baud = m_plan.baudText;
        m_plan.timeout = *timeout;
    } else if (m_mode == Mode::Ksyn) {
        // Empty texts leave the KSYN window's own values; others must be numbers.
        if (!m_plan.portText.empty() && !toInt16(m_plan.portText))
            return failed();
        if (!m_plan.timeoutText.empty() && !toNumber(m_plan.timeoutText))
            return failed();
        if (!m_plan.baudText.empty() && !toNumber(m_plan.baudText))
            return failed();
    }
    return m_plan;
}

bool Parser::apply(int k, int s, int p)
{
    if (k < 0)
        return true;
    const auto& sw = switchSpecs(m_mode)[static_cast<size_t>(k)];
    const std::string word = sw.word;
    const int valueStart = s + static_cast<int>(word.size()) + 1;
    std::optional<std::string> value = std::string();
    switch (sw.kind) {
    case ValueKind::None: break;
    case ValueKind::Fixed: value = mid(m_a, valueStart, sw.length); break;
    case ValueKind::ToNextSwitch:
        value = p == static_cast<int>(m_a.size()) ? mid(m_a, valueStart)
                                                  : mid(m_a, valueStart, p - valueStart);
        break;
    }
    if (!value)
        return false;
    return m_mode == Mode::Network ? applyNetwork(word, *value) : applySerial(word, *value);
}

bool Parser::applyNetwork(const std::string& word, const std::string& value)
{
    auto& plan = m_plan;
    if (word == " -ip") {
        const auto parts = splitAt(value, '.');
        if (parts.size() == 4)
            plan.ip = std::array<std::string, 4>{parts[0], parts[1], parts[2], parts[3]};
    } else if (word == " -type") {
        const std::string t = lower(value);
        if (t == "p")
            plan.networkFull = false;
        else if (t == "f")
            plan.networkFull = true;
    } else if (word == " -kill") {
        plan.kill = true;
    } else if (word == " -run") {
        plan.run = true;
    } else if (word == " -reboot") {
        plan.reboot = true;
    } else if (word == " -send") {
        plan.doSend = true;
    } else if (word == " -silent") {
        plan.commandLineMode = true;
        plan.doSend = true;
    } else if (word == " -permissions") {
        // A digit that is not an entry of its list leaves that list as it is.
        static const std::string ownerDigits = "7654", allDigits = "76543210";
        for (size_t i = 0; i < 3 && i < value.size(); ++i) {
            const auto& digits = i == 0 ? ownerDigits : allDigits;
            if (digits.find(value[i]) != std::string::npos)
                plan.permissions[i] = std::string(1, value[i]);
        }
    } else if (word == " -owner") {
        const std::string o = lower(value);
        if (contains(m_start.ownerList, o) || (m_start.ownerHasRoot && o == "root"))
            plan.owner = o;
    }
    return true;
}

bool Parser::applySerial(const std::string& word, const std::string& value)
{
    auto& plan = m_plan;
    const bool ksynOnly = m_mode == Mode::Ksyn;
    if (word == " -ksyn") {
        plan.ksyn = true;
    } else if (word == " -port") {
        plan.portText = value;
        if (ksynOnly)
            return true;
        if (value == "1") {
            plan.portButton = PortButton::Com1;
        } else if (value == "2") {
            plan.portButton = PortButton::Com2;
        } else if (const auto n = toInt16(value); n && *n >= 3 && *n <= 255) {
            plan.portButton = PortButton::Other;
            plan.comboComIndex = *n - 3;
        }
    } else if (word == " -baud") {
        plan.baudText = value;
        if (ksynOnly)
            return true;
        if (value == "115200") {
            plan.baudButton = BaudButton::B115200;
        } else if (value == "19200") {
            plan.baudButton = BaudButton::B19200;
        } else if (value == "9600") {
            plan.baudButton = BaudButton::B9600;
        } else {
            // The other-baud list is a drop-down list: it takes only its own entries.
            if (!contains(m_start.baudList, value))
                return false;
            plan.comboBaudText = value;
            plan.baudButton = BaudButton::Other;
        }
    } else if (word == " -timeout") {
        plan.timeoutText = value;
    } else if (word == " -silent") {
        plan.commandLineMode = true;
        plan.doSend = true;
    } else if (word == " -send") {
        plan.doSend = true;
    } else if (word == " -type") {
        plan.serialFull = lower(value) == "f";
    } else if (word == " -restart") {
        const std::string r = lower(value);
        if (r == "1")
            plan.restart = 1;
        else if (r == "2")
            plan.restart = 2;
    }
    return true;
}

} // namespace

std::vector<std::string> switchTable(Mode mode)
{
    std::vector<std::string> table;
    for (const auto& s : switchSpecs(mode))
        table.emplace_back(s.word);
    return table;
}

int findSwitchAt(const std::string& text, int p, const std::vector<std::string>& table)
{
    if (p < 1 || p > static_cast<int>(text.size()))
        return -1;
    for (size_t i = 0; i < table.size(); ++i) {
        const auto& entry = table[i];
        if (lower(text.substr(static_cast<size_t>(p - 1), entry.size())) == entry)
            return static_cast<int>(i);
    }
    return -1;
}

std::string longPathName(const std::string& shortName, const PathLookup& lookup,
                         const std::string& workingDir)
{
    if (shortName.empty() || !lookup)
        return {};
    std::string s = shortName;
    const bool drive = s.size() >= 3 && std::isalpha(static_cast<unsigned char>(s[0])) &&
                       s[1] == ':' && (s[2] == '\\' || s[2] == '/');
    if (!drive && s[0] != '/') {
        if (workingDir.empty())
            return {};
        s = workingDir + (workingDir.back() == '/' ? "" : "/") + s;
    }
    const bool posix = s[0] == '/';
    const char sep = posix ? '/' : '\\';
    const auto isSep = [&](char c) { return c == sep || (!posix && c == '/'); };
    if (isSep(s.back()))
        s.pop_back();
    s += sep;

    std::string longPath;
    const size_t from = posix ? 1 : 3; // behind "/" or "X:\"
    for (size_t q = from; q < s.size(); ++q) {
        if (!isSep(s[q]))
            continue;
        const std::string soFar = s.substr(0, q);
        if (soFar.size() > from && isSep(soFar.back()))
            continue; // a doubled separator names no new component
        const auto found = lookup(soFar);
        if (!found)
            return {};
        longPath += sep;
        longPath += *found;
    }
    return posix ? longPath : s.substr(0, 2) + longPath;
}

std::optional<FileArgument> fileArgument(Mode mode, const std::vector<std::string>& arguments)
{
    if (arguments.size() < 2 || arguments[0] != modeSwitch(mode))
        return std::nullopt;
    const auto table = switchTable(mode);
    const auto isSwitch = [&](const std::string& a) {
        return findSwitchAt(' ' + a, 1, table) >= 0;
    };
    FileArgument out;
    size_t i = 1;
    for (; i < arguments.size() && !isSwitch(arguments[i]); ++i)
        out.name += (i > 1 ? " " : "") + arguments[i];
    if (i == 1)
        return std::nullopt;
    if (i < arguments.size())
        out.rest = ' ' + joinArguments({arguments.begin() + static_cast<long>(i), arguments.end()});
    return out;
}

Plan parse(Mode mode, const std::string& args, const std::string& rawCommandLine,
           const StartValues& start, const Environment& env)
{
    return Parser(mode, start).run(args, rawCommandLine, env);
}

} // namespace tk::cli
