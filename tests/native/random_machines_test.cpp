// Random machines of both families, each cleaned by the three cleaning
// exports in turn. What each run deletes must be exactly what an oracle
// predicts: one written here from the matching rule and from what each
// family deletes, with its own copy of the vendor's ids.
//
// JQ_RANDOM_SEED picks the seed (the default is fixed), JQ_RANDOM_MACHINES
// the number of machines (default 10000). A failure names the seed and the
// machine, so the run can be repeated.
#include "native/fixture.h"
#include "native/machine_builders.h"

#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

namespace {

using builders::join;

// ------------------------------------------------------------ the vendor's ids

const std::string Vid = "VID_2F7A&PID_";

const char* const UsbDigits[] = {
    "00A1", "F4BE", "27AF", "C9D0", "1A24", "0B3F", "EE6F", "B37C", "2503", "2492", "A57E",
    "542A", "4F82", "4CA6", "1577", "065F", "14D3", "9B74", "97B0", "CEB2", "51A2", "F9B5",
    "A43A", "FD6B", "25C8", "897C", "896A", "E058", "A2AD", "3A05", "02EB", "AA7A", "3338",
    "67A1", "6FA2", "204C", "35D2", "343D", "3D11", "6089", "DD47", "9816", "A44F", "9CE6",
    "CD3B", "7992", "A5E9", "FBAE", "7CD1", "43F7", "66B3", "20B6", "FC95", "D10B", "A34F",
    "CC2C", "B8F9", "F9B3", "478F", "9F2F", "ABCD", "4A82", "A60F", "4074", "A785", "0DDD",
    "A83B", "D5CA", "A253", "1819", "EE42", "CB6C", "9E92", "F3AB", "1B8C", "92ED", "2B4E",
    "19DA", "0747", "3849", "5C8E", "1F49", "AA31", "83D1", "B497", "C0DE"};
const char* const PedalDigits[] = {"1A24", "A57E", "CEB2", "3338", "A5E9", "CB6C"};
const char* const AuxDigits[] = {"C26B", "D918", "D1C0"};
// The vendor's game-port devices: no export here cleans them.
const char* const AnalogDigits[] = {"0301", "DDB1", "BD75", "60E1", "AC4E", "D83A",
                                    "D06E", "F16F", "A354", "6466", "A808", "102B",
                                    "2944", "DCEE", "151E", "DD7E"};
const char* const OtherVendors[] = {"045E", "046D", "06A3", "0738", "2F7B", "3F7A"};

static_assert(std::size(UsbDigits) == 86);

// ------------------------------------------------------------ the oracle's rule

enum class Mode { Usb, Pedal, Aux };

struct CleaningExport {
    Mode mode;
    const char* name;
    ExportFn fn;
};
const CleaningExport CleaningExports[] = {
    {Mode::Usb, "RemoveUsbDevices", RemoveUsbDevices},
    {Mode::Pedal, "RemovePedalDevices", RemovePedalDevices},
    {Mode::Aux, "RemoveAuxDevices", RemoveAuxDevices},
};

template <size_t N>
bool holdsOneOf(const std::string& upperText, const char* const (&digits)[N])
{
    for (const char* d : digits)
        if (upperText.find(Vid + d) != std::string::npos)
            return true;
    return false;
}

// A name, value name or instance id is the vendor's in a mode when, cut to
// 255 characters and longer than 16, it holds an id of the mode's list in
// any case; the aux export tries the aux list after the USB list.
bool vendorsIn(Mode mode, const std::string& text)
{
    const std::string cut = text.substr(0, 255);
    if (cut.size() <= 16)
        return false;
    const std::string u = sim::upper(cut);
    if (mode == Mode::Pedal ? holdsOneOf(u, PedalDigits) : holdsOneOf(u, UsbDigits))
        return true;
    return mode == Mode::Aux && holdsOneOf(u, AuxDigits);
}

// The driver classes whose keys the 9x family cleans.
bool cleanedClass(const std::string& driver)
{
    const std::string u = sim::upper(driver);
    for (const char* c : {"HID\\", "HIDCLASS\\", "MEDIA\\", "JOVEX\\", "KEYBOARD\\", "MOUSE\\"})
        if (u.find(c) != std::string::npos)
            return true;
    return false;
}

// ------------------------------------------------------------ a machine

struct Instance {
    std::string name;
    std::string driver;  // 9x: the Driver value; NT: the driver key below Control\Class
    bool hasClass;       // NT: a ClassGUID, which makes it a device the setup API sees
};

struct Device {
    std::string enumerator;
    std::string name;
    std::vector<Instance> instances;
};

struct InterfaceEntry {
    std::string name;
    std::string deviceInstance;  // empty: none
};

struct Generated {
    bool w9x = false;
    bool administrator = true;
    DWORD major = 0;
    std::vector<Device> devices;  // of the machine's own family
    std::vector<std::string> settings9x, settingsNt, oem;
    bool asdKey = false;
    bool asdSubkey[2] = {false, false};
    std::vector<std::string> asdValues[2];
    bool interfaceKey[2] = {false, false};
    std::vector<InterfaceEntry> interfaces[2];
};

class Generator {
public:
    Generator(uint32_t seed, sim::Machine& m) : random_(seed), m_(m) {}

    Generated build()
    {
        static const sim::WindowsVersion ninetyX[] = {sim::WindowsVersion::Win95,
                                                      sim::WindowsVersion::Win98,
                                                      sim::WindowsVersion::WinMe};
        static const sim::WindowsVersion nt[] = {
            sim::WindowsVersion::Win2000, sim::WindowsVersion::WinXP, sim::WindowsVersion::WinXP,
            sim::WindowsVersion::Server2003, sim::WindowsVersion::Vista};
        Generated g;
        g.w9x = chance(0.5);
        m_.reset();
        m_.setWindows(g.w9x ? pick(ninetyX) : pick(nt));
        g.major = m_.os.version.dwMajorVersion;
        g.administrator = g.w9x || !chance(0.04);
        m_.setAdministrator(g.administrator);

        const int devices = below(5);
        for (int i = 0; i < devices; ++i)
            g.w9x ? add9xDevice(g) : addNtDevice(g);
        // The other family's keys, which this family's run leaves alone.
        if (chance(0.15))
            g.w9x ? addNtDevice(g, false) : add9xDevice(g, false);

        const int settings9x = g.w9x || chance(0.15) ? below(3) : 0;
        const int settingsNt = !g.w9x || chance(0.15) ? below(3) : 0;
        subkeys(builders::Settings9x, g.settings9x, settings9x, "Calibration");
        subkeys(builders::SettingsNt, g.settingsNt, settingsNt, "Calibration");
        subkeys(builders::Oem, g.oem, below(3), "Axes");

        if (g.w9x || chance(0.15)) {
            g.asdKey = chance(0.9);
            for (int which = 0; which < 2 && g.asdKey; ++which) {
                g.asdSubkey[which] = chance(0.85);
                if (!g.asdSubkey[which])
                    continue;
                const std::string key = join(builders::AsdProb, builders::AsdSubkeys[which]);
                m_.createKey(key);
                for (int v = below(4); v > 0; --v) {
                    const std::string name = prefix() + name4(true);
                    if (m_.valueExists(key, name))
                        continue;
                    chance(0.5) ? m_.setString(key, name, "1") : m_.setDword(key, name, 1);
                    g.asdValues[which].push_back(name);
                }
            }
            if (g.asdKey)
                m_.createKey(builders::AsdProb);
            for (int which = 0; which < 2; ++which) {
                g.interfaceKey[which] = chance(0.85);
                if (g.interfaceKey[which])
                    addInterfaces(which, g.interfaces[which]);
            }
        }
        return g;
    }

private:
    int below(int n) { return std::uniform_int_distribution<int>(0, n - 1)(random_); }
    bool chance(double p) { return std::uniform_real_distribution<double>(0, 1)(random_) < p; }
    template <class T, size_t N>
    const T& pick(const T (&items)[N])
    {
        return items[static_cast<size_t>(below(static_cast<int>(N)))];
    }

    std::string hex4()
    {
        static const char hex[] = "0123456789ABCDEF";
        std::string d;
        for (int i = 0; i < 4; ++i)
            d += hex[below(16)];
        return d;
    }

    // A 17-character id text: the vendor's of every list, another vendor's
    // with the vendor's product digits, one digit changed, a random product.
    std::string productId()
    {
        switch (below(10)) {
        case 0:
        case 1: return Vid + pick(UsbDigits);
        case 2: return Vid + pick(PedalDigits);
        case 3: return Vid + pick(AuxDigits);
        case 4: return Vid + pick(AnalogDigits);
        case 5: return std::string("VID_") + pick(OtherVendors) + "&PID_" + pick(UsbDigits);
        case 6: {
            std::string id = Vid + (chance(0.5) ? pick(UsbDigits) : pick(AuxDigits));
            static const size_t digitsAt[] = {4, 5, 6, 7, 13, 14, 15, 16};
            const size_t at = pick(digitsAt);
            const char was = id[at];
            while (id[at] == was)
                id[at] = "0123456789ABCDEF"[below(16)];
            return id;
        }
        case 7: return Vid + hex4();
        default: return std::string("VID_") + pick(OtherVendors) + "&PID_" + hex4();
        }
    }

    std::string cased(std::string id)
    {
        switch (below(5)) {
        case 0:
            for (char& c : id)
                c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
            break;
        case 1:  // as Windows writes HID ids: "Vid_2f7a&Pid_00a1"
            for (size_t i = 1; i < id.size(); ++i)
                if (id[i - 1] != '&' && id[i - 1] != '\\')
                    id[i] = static_cast<char>(std::tolower(static_cast<unsigned char>(id[i])));
            break;
        default: break;
        }
        return id;
    }

    // A device or settings name: an id, at times one cut to its first 16
    // characters, in any case, with or without an interface suffix.
    std::string name4(bool suffixes)
    {
        std::string id = productId();
        if (chance(0.08))
            id = id.substr(0, 16);
        static const char* const suffix[] = {"&MI_00", "&MI_01", "&MI_02&COL01", "&REV_0100"};
        return cased(id) + (suffixes && chance(0.3) ? pick(suffix) : "");
    }

    std::string prefix()
    {
        static const char* const prefixes[] = {"", "", "", "JQ ", "USB\\", "HID\\", "Joystick "};
        return pick(prefixes);
    }

    // Driver key numbers, unique on the machine.
    std::string number()
    {
        char text[8];
        std::snprintf(text, sizeof text, "%04u", nextNumber_++ % 10000);
        return text;
    }

    bool unique(std::set<std::string>& names, const std::string& name)
    {
        return names.insert(sim::upper(name)).second;
    }

    void add9xDevice(Generated& g, bool own = true)
    {
        static const char* const enumerators[] = {"USB", "HID", "Jovex"};
        Device d{pick(enumerators), name4(true), {}};
        if (!unique(names_[std::string("9x") + d.enumerator], d.name))
            return;
        const std::string deviceKey = join(join(builders::Enum9x, d.enumerator), d.name);
        for (int i = 0, n = 1 + below(2); i < n; ++i) {
            Instance in{"000" + std::to_string(i), driver9x(), true};
            m_.createKey(join(deviceKey, in.name));
            if (!in.driver.empty() || chance(0.5))
                m_.setString(join(deviceKey, in.name), "Driver", in.driver,
                             chance(0.05) ? REG_EXPAND_SZ : REG_SZ);
            d.instances.push_back(in);
        }
        if (own)
            g.devices.push_back(d);
    }

    // A Driver value as Windows 9x writes it, and now and then one it does not.
    std::string driver9x()
    {
        static const char* const classes[] = {"MEDIA", "MEDIA", "MEDIA", "media", "HIDCLASS",
                                              "HIDCLASS", "HID", "Ports", "USB", "JOVEX"};
        switch (below(25)) {
        case 0:
        case 1: return "";
        case 2: return "MEDIA\\";  // names the whole class
        case 3: return "\\MEDIA\\" + number();
        default: break;
        }
        const std::string cls = pick(classes);
        const std::string driver = cls + "\\" + number();
        if (chance(0.85)) {
            m_.createKey(join(builders::Class9x, driver));
            if (chance(0.3))
                m_.createKey(join(join(builders::Class9x, driver), "Config"));
        }
        if ((sim::equalNoCase(cls, "MEDIA") || cls == "JOVEX") && chance(0.7)) {
            const std::string joystick =
                join(builders::Joystick9x, "msjstick.drv<" + driver.substr(6, 4) + ">");
            m_.createKey(chance(0.3) ? join(joystick, "CurrentSettings") : joystick);
        }
        return driver;
    }

    void addNtDevice(Generated& g, bool own = true)
    {
        static const char* const enumerators[] = {"USB", "USB", "HID", "Jovex", "GamePort"};
        const std::string enumerator = pick(enumerators);
        Device d{enumerator, name4(enumerator != "USB"), {}};
        if (!unique(names_[std::string("nt") + d.enumerator], d.name))
            return;
        for (int i = 0, n = 1 + below(2); i < n; ++i) {
            Instance in{std::to_string(5 + below(3)) + "&" + hex4() + "&0&" + std::to_string(i),
                        chance(0.8) ? std::string(builders::HidClassGuid) + "\\" + number() : "",
                        chance(0.92)};
            const std::string instanceId = d.enumerator + "\\" + d.name + "\\" + in.name;
            m_.addDevice({instanceId, {d.enumerator + "\\" + d.name},
                          in.hasClass ? builders::HidClassGuid : "", in.driver, chance(0.5)});
            if (chance(0.2))
                m_.createKey(join(join(builders::EnumNt, instanceId), "Device Parameters"));
            d.instances.push_back(in);
        }
        if (own)
            g.devices.push_back(d);
    }

    void subkeys(const std::string& parent, std::vector<std::string>& names, int count,
                 const char* child)
    {
        std::set<std::string> seen;
        for (int i = 0; i < count; ++i) {
            const std::string name = name4(chance(0.15));
            if (!unique(seen, name))
                continue;
            m_.createKey(chance(0.3) ? join(join(parent, name), child) : join(parent, name));
            names.push_back(name);
        }
    }

    // Interface keys are named after the interface; only their DeviceInstance
    // value says whose device it is, and the two need not agree.
    void addInterfaces(int which, std::vector<InterfaceEntry>& entries)
    {
        const std::string classKey = builders::InterfaceClassKeys[which];
        m_.createKey(classKey);
        const char* enumerator = which == 0 ? "HID" : "USB";
        std::set<std::string> seen;
        for (int i = below(3); i > 0; --i) {
            InterfaceEntry e;
            e.name = std::string("##?#") + enumerator + "#" + name4(true) + "#" + hex4() + "#{guid}";
            if (!unique(seen, e.name))
                continue;
            const std::string key = join(classKey, e.name);
            m_.createKey(join(key, chance(0.5) ? "#" : "Control"));
            if (chance(0.9)) {
                e.deviceInstance = chance(0.05) ? ""
                                                : std::string(enumerator) + "\\" + name4(true) +
                                                      "\\7&" + hex4() + "&0&0000";
                m_.setString(key, "DeviceInstance", e.deviceInstance);
            }
            entries.push_back(e);
        }
    }

    std::mt19937 random_;
    sim::Machine& m_;
    unsigned nextNumber_ = 1;
    std::map<std::string, std::set<std::string>> names_;  // device names per family and enumerator
};

// ------------------------------------------------------------ the prediction

struct Prediction {
    std::vector<std::string> keys;    // each with everything below it
    std::vector<std::string> values;  // "path|name"
    LONG result = 1;
};

Prediction predict(const Generated& g, Mode mode)
{
    Prediction p;
    if (!g.administrator) {
        p.result = 2;
        return p;
    }
    bool found = false;
    const auto vendors = [&](const std::string& text) {
        const bool hit = vendorsIn(mode, text);
        found = found || hit;
        return hit;
    };

    for (const char* e : {"USB", "HID", "Jovex"}) {
        std::vector<std::string> drivers;  // driver values of the matching devices' instances
        for (const Device& d : g.devices) {
            if (d.enumerator != e || !vendors(d.name))
                continue;
            if (g.w9x) {
                p.keys.push_back(join(join(builders::Enum9x, e), d.name));
                for (const Instance& in : d.instances)
                    if (cleanedClass(in.driver.substr(0, 255)))
                        drivers.push_back(in.driver.substr(0, 255));
                continue;
            }
            // NT removes the device nodes of the device id the matching key
            // names, an interface suffix (&MI_00) included. Every instance the
            // setup API sees goes with its driver key, and the device key once
            // no instance is left.
            const std::string& target = d.name;
            for (const Device& t : g.devices) {
                if (t.enumerator != e || !sim::equalNoCase(t.name, target))
                    continue;
                bool allGone = true;
                for (const Instance& in : t.instances) {
                    if (!in.hasClass) {
                        allGone = false;
                        continue;
                    }
                    p.keys.push_back(join(join(join(builders::EnumNt, e), t.name), in.name));
                    if (!in.driver.empty())
                        p.keys.push_back(join(builders::ClassNt, in.driver));
                }
                if (allGone)
                    p.keys.push_back(join(join(builders::EnumNt, e), t.name));
            }
        }
        for (const std::string& driver : drivers) {
            // Deleting "MEDIA\" or "\MEDIA\0001" below the Class key would reach
            // other devices' driver keys (the whole class, or a key outside
            // the Class key): only a class\instance path is deleted.
            const bool path = driver.front() != '\\' && driver.back() != '\\' &&
                              driver.find("\\\\") == std::string::npos;
            if (path)
                p.keys.push_back(join(builders::Class9x, driver));
            // The joystick key is named after characters 7 to 10 of the value,
            // as old joystick drivers named it, whatever they are.
            const std::string part = driver.size() > 6 ? driver.substr(6, 4) : "";
            if (std::string(e) != "USB")
                p.keys.push_back(join(builders::Joystick9x, "msjstick.drv<" + part + ">"));
        }
    }

    // Major version 5 keeps the joystick settings under DINPUT.DLL.
    const bool dinput = g.major == 5;
    for (const std::string& name : dinput ? g.settingsNt : g.settings9x)
        if (vendors(name))
            p.keys.push_back(join(dinput ? builders::SettingsNt : builders::Settings9x, name));
    for (const std::string& name : g.oem)
        if (vendors(name))
            p.keys.push_back(join(builders::Oem, name));

    if (g.w9x) {
        for (int which = 0; which < 2; ++which) {
            if (g.asdKey && g.asdSubkey[which])
                for (const std::string& name : g.asdValues[which])
                    if (vendors(name))
                        p.values.push_back(
                            join(builders::AsdProb, builders::AsdSubkeys[which]) + "|" + name);
            if (g.interfaceKey[which])
                for (const InterfaceEntry& e : g.interfaces[which])
                    if (vendors(e.deviceInstance))
                        p.keys.push_back(join(builders::InterfaceClassKeys[which], e.name));
        }
    }
    p.result = found ? 0 : 1;
    return p;
}

// ------------------------------------------------------------ comparing

using Names = std::set<std::string>;  // folded to upper case

std::vector<std::string> onlyIn(const Names& a, const Names& b)
{
    std::vector<std::string> out;
    for (const std::string& x : a)
        if (!b.count(x))
            out.push_back(x);
    return out;
}

// What went wrong in one run, or the empty text.
std::string compare(const builders::MachineImage& before, const builders::RegistryDiff& d,
                    const Prediction& p, LONG result)
{
    Names keysGone, valuesGone;
    for (const std::string& k : d.keysRemoved)
        keysGone.insert(sim::upper(k));
    for (const std::string& v : d.valuesRemoved)
        if (!keysGone.count(sim::upper(builders::keyOfValue(v))))
            valuesGone.insert(sim::upper(v));
    Names keysExpected;
    for (const std::string& k : builders::keysAtOrBelow(before, p.keys))
        keysExpected.insert(sim::upper(k));
    Names valuesExpected;
    for (const std::string& v : p.values)
        valuesExpected.insert(sim::upper(v));

    std::string out;
    const auto report = [&out](const char* what, const std::vector<std::string>& items) {
        if (!items.empty())
            out += std::string("\n  ") + what + ":" + builders::listing(items);
    };
    if (result != p.result)
        out += "\n  result " + std::to_string(result) + ", predicted " + std::to_string(p.result);
    report("deleted, not predicted", onlyIn(keysGone, keysExpected));
    report("predicted, not deleted", onlyIn(keysExpected, keysGone));
    report("values deleted, not predicted", onlyIn(valuesGone, valuesExpected));
    report("values predicted, not deleted", onlyIn(valuesExpected, valuesGone));
    report("keys added", d.keysAdded);
    report("values added", d.valuesAdded);
    report("values changed", d.valuesChanged);
    return out;
}

unsigned long fromEnvironment(const char* name, unsigned long otherwise)
{
    const char* text = std::getenv(name);
    return text && *text ? std::strtoul(text, nullptr, 0) : otherwise;
}

using RandomMachinesTest = SimTest;

TEST_F(RandomMachinesTest, CleaningDeletesExactlyWhatTheMatchingRulePredicts)
{
    const uint32_t seed = static_cast<uint32_t>(fromEnvironment("JQ_RANDOM_SEED", 20240611));
    const unsigned long machines = fromEnvironment("JQ_RANDOM_MACHINES", 10000);
    std::mt19937 seeds(seed);
    const auto started = std::chrono::steady_clock::now();
    unsigned long families[2] = {0, 0};
    unsigned long results[3] = {0, 0, 0};
    int failures = 0;

    for (unsigned long i = 0; i < machines && failures < 3; ++i) {
        const uint32_t machineSeed = seeds();
        const Generated g = Generator(machineSeed, m).build();
        ++families[g.w9x ? 0 : 1];
        const builders::MachineImage image = builders::MachineImage::take(m);

        bool fresh = true;  // the machine as generated, for the first export
        for (const CleaningExport& e : CleaningExports) {
            if (!fresh)
                image.restore(m);
            fresh = false;
            moduleLoad();  // tracing stays off, as in the product
            const LONG result = call(e.fn);
            const std::string problems =
                compare(image, builders::diff(image, m), predict(g, e.mode), result);
            if (result >= 0 && result <= 2)
                ++results[result];
            if (problems.empty())
                continue;
            ++failures;
            ADD_FAILURE() << "JQ_RANDOM_SEED=" << seed << ", machine " << i << " (machine seed "
                          << machineSeed << "), " << (g.w9x ? "9x family" : "NT family")
                          << ", major version " << g.major << ", " << e.name << ":" << problems;
            break;
        }
    }

    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    std::printf("[ random   ] seed %u: %lu machines (%lu 9x, %lu NT), results 0/1/2: "
                "%lu/%lu/%lu, %.2f s\n",
                seed, machines, families[0], families[1], results[0], results[1], results[2],
                seconds);
    m.reset();
}

}  // namespace
