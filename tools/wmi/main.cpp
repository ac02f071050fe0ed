// wmi: the instrumentation service's client tool.
//
//   wmi [--namespace NS] [--format table|list|json] COMMAND ...
//     query WQL | enum CLASS | get PATH | watch WQL [--count N] [--timeout S]
//     call PATH METHOD [Name=Value]... [--arguments-stdin]
//     classes | class NAME | delete PATH
// Errors print the WMI code's name and value on standard error; the exit code is then 1 (2 for usage).

#include "argument_values.h"
#include "object_format.h"
#include "wbem_codes.h"

#include "atlbase.h"
#include "objbase.h"
#include "qv_system_root.h"
#include "wbemcli.h"
#include "wrl/client.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <chrono>
#include <iostream>
#include <string>
#include <vector>

namespace {

using Microsoft::WRL::ComPtr;
using qv::win::FromUtf8;
using qv::win::ToUtf8;

CComBSTR Text(const std::string& utf8) { return CComBSTR(FromUtf8(utf8).c_str()); }

struct Failure {
    std::string what;
    HRESULT code;
};

void Check(HRESULT hr, const std::string& what) {
    if (FAILED(hr)) throw Failure{what, hr};
}

// Reads an enumerator to its end.
// Objects are asked for in batches: the service hands out what it has (at least one, at most a batch), so
// each call costs one round trip however many objects it brings.
constexpr ULONG kNextBatch = 256;

std::vector<ComPtr<IWbemClassObject>> ReadAll(IEnumWbemClassObject* enumerator, const std::string& what) {
    std::vector<ComPtr<IWbemClassObject>> objects;
    for (;;) {
        IWbemClassObject* batch[kNextBatch] = {};
        ULONG returned = 0;
        HRESULT hr = enumerator->Next(WBEM_INFINITE, kNextBatch, batch, &returned);
        // Next hands over one reference per object returned: the holders take them.
        for (ULONG i = 0; i < std::min(returned, kNextBatch); ++i) objects.emplace_back().Attach(batch[i]);
        if (FAILED(hr)) throw Failure{what, hr};
        if (hr == WBEM_S_TIMEDOUT && returned == 0) continue;  // a slow provider: keep waiting
        if (hr == WBEM_S_FALSE || returned == 0) break;        // the end
    }
    return objects;
}

void Show(const std::vector<ComPtr<IWbemClassObject>>& objects, qv::wmi::Format format) {
    qv::wmi::WriteObjects(std::cout, objects, format);
}

std::string ClassOfPath(const std::string& path) {
    std::string rest = path;
    if (auto colon = rest.find(':'); colon != std::string::npos) rest = rest.substr(colon + 1);
    return rest.substr(0, rest.find_first_of(".="));
}

// Appends the in-parameters of `in`, one "Name=Value" a line (a final CR is dropped, empty lines are skipped),
// to those of the command line; the value is taken exactly as it stands, spaces and all.
void ReadArgumentLines(std::istream& in, std::vector<std::string>& arguments) {
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (!line.empty()) arguments.push_back(line);
    }
}

void Watch(IWbemServices* services, const std::string& wql, int count, double timeout, qv::wmi::Format format) {
    ComPtr<IEnumWbemClassObject> events;
    Check(services->ExecNotificationQuery(CComBSTR(L"WQL"), Text(wql),
                                          WBEM_FLAG_RETURN_IMMEDIATELY | WBEM_FLAG_FORWARD_ONLY, nullptr,
                                          events.GetAddressOf()),
          "watch");
    auto deadline = std::chrono::steady_clock::now() +
                    std::chrono::milliseconds(static_cast<long long>(timeout * 1000));
    int seen = 0;
    while (count <= 0 || seen < count) {
        LONG slice = 500;
        if (timeout > 0) {
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline -
                                                                              std::chrono::steady_clock::now());
            if (left.count() <= 0) break;
            slice = static_cast<LONG>(std::min<long long>(left.count(), 500));
        }
        ComPtr<IWbemClassObject> event;
        ULONG returned = 0;
        HRESULT hr = events->Next(slice, 1, event.GetAddressOf(), &returned);
        Check(hr, "watch");
        if (returned == 0) continue;  // the slice timed out
        ++seen;
        // Events are shown as they arrive: one property list each, or one JSON object per line.
        if (format == qv::wmi::Format::kJson)
            std::cout << qv::wmi::ObjectJson(event.Get()).dump() << std::endl;
        else {
            if (seen > 1) std::cout << '\n';
            qv::wmi::WriteObjects(std::cout, {event}, qv::wmi::Format::kList);
            std::cout.flush();
        }
    }
}

}  // namespace

int main(int argc, char** argv) {
    CLI::App app{"Query and change the objects of the instrumentation service.", "wmi"};
    app.fallthrough();  // options of the tool may follow the command
    app.require_subcommand(1);
    std::string ns = "root\\QV\\InstrumentedBIOS";
    std::string format_name = "table";
    app.add_option("-n,--namespace", ns, "Namespace to connect to")->capture_default_str();
    app.add_option("-f,--format", format_name, "Output form")
        ->check(CLI::IsMember({"table", "list", "json"}))
        ->capture_default_str();

    std::string wql, class_name, path, method;
    std::vector<std::string> arguments;
    int count = 0;
    double timeout = 0;
    auto* query = app.add_subcommand("query", "Run a WQL query and show the objects");
    query->add_option("WQL", wql, "The query, e.g. \"SELECT * FROM QVPROV_BIOSEnumeration\"")->required();
    auto* enumerate = app.add_subcommand("enum", "Show every instance of a class and its subclasses");
    enumerate->add_option("CLASS", class_name)->required();
    auto* get = app.add_subcommand("get", "Show one object by its path");
    get->add_option("PATH", path, "Class name or instance path, e.g. Class.Key=\"value\"")->required();
    auto* call = app.add_subcommand("call", "Call a method and show its out-parameters");
    call->add_option("PATH", path, "Class or instance the method runs on")->required();
    call->add_option("METHOD", method)->required();
    call->add_option("ARGUMENTS", arguments, "In-parameters as Name=Value (arrays: a,b,c)");
    bool arguments_from_stdin = false;
    call->add_flag("--arguments-stdin", arguments_from_stdin,
                   "Read more in-parameters from standard input, one Name=Value a line (for passwords, which "
                   "other users could read on a command line)");
    auto* watch = app.add_subcommand("watch", "Show events matching a query as they happen");
    watch->add_option("WQL", wql)->required();
    watch->add_option("--count", count, "Stop after this many events");
    watch->add_option("--timeout", timeout, "Stop after this many seconds");
    auto* classes = app.add_subcommand("classes", "List the classes of the namespace");
    auto* show_class = app.add_subcommand("class", "Show a class as MOF text");
    show_class->add_option("NAME", class_name)->required();
    auto* remove = app.add_subcommand("delete", "Delete a class (with its subclasses) or an instance");
    remove->add_option("PATH", path)->required();
    CLI11_PARSE(app, argc, argv);

    auto format = format_name == "json"   ? qv::wmi::Format::kJson
                  : format_name == "list" ? qv::wmi::Format::kList
                                          : qv::wmi::Format::kTable;
    try {
        Check(CoInitializeEx(nullptr, COINIT_MULTITHREADED), "initialising COM");
        ComPtr<IWbemLocator> locator;
        Check(CoCreateInstance(CLSID_WbemLocator, nullptr, CLSCTX_INPROC_SERVER, IID_IWbemLocator,
                               reinterpret_cast<void**>(locator.GetAddressOf())),
              "creating the locator");
        ComPtr<IWbemServices> services;
        Check(locator->ConnectServer(Text(ns), nullptr, nullptr, nullptr, 0, nullptr, nullptr, services.GetAddressOf()),
              "connecting to " + ns);
        constexpr LONG kStream = WBEM_FLAG_RETURN_IMMEDIATELY | WBEM_FLAG_FORWARD_ONLY;

        if (*query) {
            ComPtr<IEnumWbemClassObject> found;
            Check(services->ExecQuery(CComBSTR(L"WQL"), Text(wql), kStream, nullptr, found.GetAddressOf()), "query");
            Show(ReadAll(found.Get(), "query"), format);
        } else if (*enumerate) {
            ComPtr<IEnumWbemClassObject> found;
            Check(
                services->CreateInstanceEnum(Text(class_name), kStream | WBEM_FLAG_DEEP, nullptr, found.GetAddressOf()),
                "enumerating " + class_name);
            Show(ReadAll(found.Get(), "enumerating " + class_name), format);
        } else if (*get) {
            ComPtr<IWbemClassObject> object;
            Check(services->GetObject(Text(path), 0, nullptr, object.GetAddressOf(), nullptr), "getting " + path);
            Show({object}, format);
        } else if (*call) {
            std::string target_class = ClassOfPath(path);
            ComPtr<IWbemClassObject> definition, in_signature, out_signature, in_parameters, out_parameters;
            Check(services->GetObject(Text(target_class), 0, nullptr, definition.GetAddressOf(), nullptr),
                  "getting class " + target_class);
            Check(definition->GetMethod(FromUtf8(method).c_str(), 0, in_signature.GetAddressOf(),
                                        out_signature.GetAddressOf()),
                  "finding method " + method);
            if (in_signature) Check(in_signature->SpawnInstance(0, in_parameters.GetAddressOf()), "parameters");
            if (arguments_from_stdin) ReadArgumentLines(std::cin, arguments);
            for (const auto& argument : arguments) {
                auto eq = argument.find('=');
                if (eq == std::string::npos || eq == 0)
                    throw Failure{"argument " + argument + " is not Name=Value", WBEM_E_INVALID_PARAMETER};
                std::wstring name = FromUtf8(argument.substr(0, eq));
                CIMTYPE type = 0;
                if (!in_parameters || FAILED(in_parameters->Get(name.c_str(), 0, nullptr, &type, nullptr)))
                    throw Failure{method + " has no parameter " + argument.substr(0, eq), WBEM_E_INVALID_PARAMETER};
                CComVariant value;
                Check(qv::wmi::ArgumentValue(FromUtf8(argument.substr(eq + 1)), type, &value), "argument " + argument);
                Check(in_parameters->Put(name.c_str(), 0, &value, 0), "argument " + argument);
            }
            Check(services->ExecMethod(Text(path), Text(method), 0, nullptr, in_parameters.Get(),
                                       out_parameters.GetAddressOf(), nullptr),
                  "calling " + method);
            if (out_parameters)
                Show({out_parameters}, format == qv::wmi::Format::kTable ? qv::wmi::Format::kList : format);
        } else if (*watch) {
            Watch(services.Get(), wql, count, timeout, format);
        } else if (*classes) {
            ComPtr<IEnumWbemClassObject> found;
            Check(services->CreateClassEnum(nullptr, kStream | WBEM_FLAG_DEEP, nullptr, found.GetAddressOf()),
                  "listing classes");
            for (const auto& object : ReadAll(found.Get(), "listing classes")) {
                CComVariant name;
                if (SUCCEEDED(object->Get(L"__CLASS", 0, &name, nullptr, nullptr)) && name.vt == VT_BSTR)
                    std::cout << ToUtf8(name.bstrVal) << '\n';
            }
        } else if (*show_class) {
            ComPtr<IWbemClassObject> definition;
            Check(services->GetObject(Text(class_name), 0, nullptr, definition.GetAddressOf(), nullptr),
                  "getting " + class_name);
            CComBSTR text;
            Check(definition->GetObjectText(0, &text), "writing " + class_name);
            std::cout << ToUtf8(std::wstring(text, text.Length()));
        } else if (*remove) {
            bool instance = path.find_first_of(".=") != std::string::npos;
            Check(instance ? services->DeleteInstance(Text(path), 0, nullptr, nullptr)
                           : services->DeleteClass(Text(path), 0, nullptr, nullptr),
                  "deleting " + path);
        }
    } catch (const Failure& failure) {
        std::cerr << "wmi: " << failure.what << ": " << qv::wmi::DescribeCode(failure.code) << '\n';
        CoUninitialize();
        return 1;
    }
    CoUninitialize();
    return 0;
}
