// WMI client interfaces, result codes, flags and CIM types, with Windows' names, slot order and values.
#pragma once

#include "oleauto.h"
#include "unknwn.h"
#include "windef.h"

typedef LONG CIMTYPE;

// --- result codes -------------------------------------------------------------------------------------------
enum WBEMSTATUS : HRESULT {
    WBEM_NO_ERROR = 0,
    WBEM_S_NO_ERROR = 0,
    WBEM_S_SAME = 0,
    WBEM_S_FALSE = 1,
    WBEM_S_ALREADY_EXISTS = 0x40001,
    WBEM_S_RESET_TO_DEFAULT = 0x40002,
    WBEM_S_DIFFERENT = 0x40003,
    WBEM_S_TIMEDOUT = 0x40004,
    WBEM_S_NO_MORE_DATA = 0x40005,
    WBEM_S_OPERATION_CANCELLED = 0x40006,
    WBEM_S_PENDING = 0x40007,
    WBEM_S_DUPLICATE_OBJECTS = 0x40008,
    WBEM_S_ACCESS_DENIED = 0x40009,
    WBEM_S_PARTIAL_RESULTS = 0x40010,
    WBEM_E_FAILED = static_cast<HRESULT>(0x80041001),
    WBEM_E_NOT_FOUND = static_cast<HRESULT>(0x80041002),
    WBEM_E_ACCESS_DENIED = static_cast<HRESULT>(0x80041003),
    WBEM_E_PROVIDER_FAILURE = static_cast<HRESULT>(0x80041004),
    WBEM_E_TYPE_MISMATCH = static_cast<HRESULT>(0x80041005),
    WBEM_E_OUT_OF_MEMORY = static_cast<HRESULT>(0x80041006),
    WBEM_E_INVALID_CONTEXT = static_cast<HRESULT>(0x80041007),
    WBEM_E_INVALID_PARAMETER = static_cast<HRESULT>(0x80041008),
    WBEM_E_NOT_AVAILABLE = static_cast<HRESULT>(0x80041009),
    WBEM_E_CRITICAL_ERROR = static_cast<HRESULT>(0x8004100A),
    WBEM_E_INVALID_STREAM = static_cast<HRESULT>(0x8004100B),
    WBEM_E_NOT_SUPPORTED = static_cast<HRESULT>(0x8004100C),
    WBEM_E_INVALID_SUPERCLASS = static_cast<HRESULT>(0x8004100D),
    WBEM_E_INVALID_NAMESPACE = static_cast<HRESULT>(0x8004100E),
    WBEM_E_INVALID_OBJECT = static_cast<HRESULT>(0x8004100F),
    WBEM_E_INVALID_CLASS = static_cast<HRESULT>(0x80041010),
    WBEM_E_PROVIDER_NOT_FOUND = static_cast<HRESULT>(0x80041011),
    WBEM_E_INVALID_PROVIDER_REGISTRATION = static_cast<HRESULT>(0x80041012),
    WBEM_E_PROVIDER_LOAD_FAILURE = static_cast<HRESULT>(0x80041013),
    WBEM_E_INITIALIZATION_FAILURE = static_cast<HRESULT>(0x80041014),
    WBEM_E_TRANSPORT_FAILURE = static_cast<HRESULT>(0x80041015),
    WBEM_E_INVALID_OPERATION = static_cast<HRESULT>(0x80041016),
    WBEM_E_INVALID_QUERY = static_cast<HRESULT>(0x80041017),
    WBEM_E_INVALID_QUERY_TYPE = static_cast<HRESULT>(0x80041018),
    WBEM_E_ALREADY_EXISTS = static_cast<HRESULT>(0x80041019),
    WBEM_E_OVERRIDE_NOT_ALLOWED = static_cast<HRESULT>(0x8004101A),
    WBEM_E_PROPAGATED_QUALIFIER = static_cast<HRESULT>(0x8004101B),
    WBEM_E_PROPAGATED_PROPERTY = static_cast<HRESULT>(0x8004101C),
    WBEM_E_UNEXPECTED = static_cast<HRESULT>(0x8004101D),
    WBEM_E_ILLEGAL_OPERATION = static_cast<HRESULT>(0x8004101E),
    WBEM_E_CANNOT_BE_KEY = static_cast<HRESULT>(0x8004101F),
    WBEM_E_INCOMPLETE_CLASS = static_cast<HRESULT>(0x80041020),
    WBEM_E_INVALID_SYNTAX = static_cast<HRESULT>(0x80041021),
    WBEM_E_NONDECORATED_OBJECT = static_cast<HRESULT>(0x80041022),
    WBEM_E_READ_ONLY = static_cast<HRESULT>(0x80041023),
    WBEM_E_PROVIDER_NOT_CAPABLE = static_cast<HRESULT>(0x80041024),
    WBEM_E_CLASS_HAS_CHILDREN = static_cast<HRESULT>(0x80041025),
    WBEM_E_CLASS_HAS_INSTANCES = static_cast<HRESULT>(0x80041026),
    WBEM_E_QUERY_NOT_IMPLEMENTED = static_cast<HRESULT>(0x80041027),
    WBEM_E_ILLEGAL_NULL = static_cast<HRESULT>(0x80041028),
    WBEM_E_INVALID_QUALIFIER_TYPE = static_cast<HRESULT>(0x80041029),
    WBEM_E_INVALID_PROPERTY_TYPE = static_cast<HRESULT>(0x8004102A),
    WBEM_E_VALUE_OUT_OF_RANGE = static_cast<HRESULT>(0x8004102B),
    WBEM_E_CANNOT_BE_SINGLETON = static_cast<HRESULT>(0x8004102C),
    WBEM_E_INVALID_CIM_TYPE = static_cast<HRESULT>(0x8004102D),
    WBEM_E_INVALID_METHOD = static_cast<HRESULT>(0x8004102E),
    WBEM_E_INVALID_METHOD_PARAMETERS = static_cast<HRESULT>(0x8004102F),
    WBEM_E_SYSTEM_PROPERTY = static_cast<HRESULT>(0x80041030),
    WBEM_E_INVALID_PROPERTY = static_cast<HRESULT>(0x80041031),
    WBEM_E_CALL_CANCELLED = static_cast<HRESULT>(0x80041032),
    WBEM_E_SHUTTING_DOWN = static_cast<HRESULT>(0x80041033),
    WBEM_E_PROPAGATED_METHOD = static_cast<HRESULT>(0x80041034),
    WBEM_E_UNSUPPORTED_PARAMETER = static_cast<HRESULT>(0x80041035),
    WBEM_E_MISSING_PARAMETER_ID = static_cast<HRESULT>(0x80041036),
    WBEM_E_INVALID_PARAMETER_ID = static_cast<HRESULT>(0x80041037),
    WBEM_E_NONCONSECUTIVE_PARAMETER_IDS = static_cast<HRESULT>(0x80041038),
    WBEM_E_PARAMETER_ID_ON_RETVAL = static_cast<HRESULT>(0x80041039),
    WBEM_E_INVALID_OBJECT_PATH = static_cast<HRESULT>(0x8004103A),
    WBEM_E_OUT_OF_DISK_SPACE = static_cast<HRESULT>(0x8004103B),
    WBEM_E_BUFFER_TOO_SMALL = static_cast<HRESULT>(0x8004103C),
    WBEM_E_UNSUPPORTED_PUT_EXTENSION = static_cast<HRESULT>(0x8004103D),
    WBEM_E_UNKNOWN_OBJECT_TYPE = static_cast<HRESULT>(0x8004103E),
    WBEM_E_UNKNOWN_PACKET_TYPE = static_cast<HRESULT>(0x8004103F),
    WBEM_E_MARSHAL_VERSION_MISMATCH = static_cast<HRESULT>(0x80041040),
    WBEM_E_MARSHAL_INVALID_SIGNATURE = static_cast<HRESULT>(0x80041041),
    WBEM_E_INVALID_QUALIFIER = static_cast<HRESULT>(0x80041042),
    WBEM_E_INVALID_DUPLICATE_PARAMETER = static_cast<HRESULT>(0x80041043),
    WBEM_E_TOO_MUCH_DATA = static_cast<HRESULT>(0x80041044),
    WBEM_E_SERVER_TOO_BUSY = static_cast<HRESULT>(0x80041045),
    WBEM_E_INVALID_FLAVOR = static_cast<HRESULT>(0x80041046),
    WBEM_E_CIRCULAR_REFERENCE = static_cast<HRESULT>(0x80041047),
    WBEM_E_UNSUPPORTED_CLASS_UPDATE = static_cast<HRESULT>(0x80041048),
    WBEM_E_CANNOT_CHANGE_KEY_INHERITANCE = static_cast<HRESULT>(0x80041049),
    WBEM_E_CANNOT_CHANGE_INDEX_INHERITANCE = static_cast<HRESULT>(0x80041050),
    WBEM_E_TOO_MANY_PROPERTIES = static_cast<HRESULT>(0x80041051),
    WBEM_E_UPDATE_TYPE_MISMATCH = static_cast<HRESULT>(0x80041052),
    WBEM_E_UPDATE_OVERRIDE_NOT_ALLOWED = static_cast<HRESULT>(0x80041053),
    WBEM_E_UPDATE_PROPAGATED_METHOD = static_cast<HRESULT>(0x80041054),
    WBEM_E_METHOD_NOT_IMPLEMENTED = static_cast<HRESULT>(0x80041055),
    WBEM_E_METHOD_DISABLED = static_cast<HRESULT>(0x80041056),
    WBEM_E_UNPARSABLE_QUERY = static_cast<HRESULT>(0x80041058),
    WBEM_E_NOT_EVENT_CLASS = static_cast<HRESULT>(0x80041059),
    WBEM_E_INVALID_OPERATOR = static_cast<HRESULT>(0x80041063),
    WBEM_E_CANNOT_BE_ABSTRACT = static_cast<HRESULT>(0x80041065),
    WBEM_E_AMENDED_OBJECT = static_cast<HRESULT>(0x80041066),
    WBEM_E_CLIENT_TOO_SLOW = static_cast<HRESULT>(0x80041067),
    WBEM_E_NULL_SECURITY_DESCRIPTOR = static_cast<HRESULT>(0x80041068),
    WBEM_E_TIMED_OUT = static_cast<HRESULT>(0x80041069),
    WBEM_E_INVALID_ASSOCIATION = static_cast<HRESULT>(0x8004106A),
    WBEM_E_AMBIGUOUS_OPERATION = static_cast<HRESULT>(0x8004106B),
    WBEM_E_QUOTA_VIOLATION = static_cast<HRESULT>(0x8004106C),
    WBEM_E_UNSUPPORTED_LOCALE = static_cast<HRESULT>(0x8004106E),
    WBEM_E_HANDLE_OUT_OF_DATE = static_cast<HRESULT>(0x8004106F),
    WBEM_E_CONNECTION_FAILED = static_cast<HRESULT>(0x80041070),
    WBEM_E_INVALID_HANDLE_REQUEST = static_cast<HRESULT>(0x80041071),
    WBEM_E_PROPERTY_NAME_TOO_WIDE = static_cast<HRESULT>(0x80041072),
    WBEM_E_CLASS_NAME_TOO_WIDE = static_cast<HRESULT>(0x80041073),
    WBEM_E_METHOD_NAME_TOO_WIDE = static_cast<HRESULT>(0x80041074),
    WBEM_E_QUALIFIER_NAME_TOO_WIDE = static_cast<HRESULT>(0x80041075),
    WBEM_E_RERUN_COMMAND = static_cast<HRESULT>(0x80041076),
    WBEM_E_DATABASE_VER_MISMATCH = static_cast<HRESULT>(0x80041077),
    WBEM_E_VETO_DELETE = static_cast<HRESULT>(0x80041078),
    WBEM_E_VETO_PUT = static_cast<HRESULT>(0x80041079),
    WBEM_E_INVALID_LOCALE = static_cast<HRESULT>(0x80041080),
    WBEM_E_PROVIDER_SUSPENDED = static_cast<HRESULT>(0x80041081),
    WBEM_E_SYNCHRONIZATION_REQUIRED = static_cast<HRESULT>(0x80041082),
    WBEM_E_NO_SCHEMA = static_cast<HRESULT>(0x80041083),
    WBEM_E_PROVIDER_ALREADY_REGISTERED = static_cast<HRESULT>(0x80041084),
    WBEM_E_PROVIDER_NOT_REGISTERED = static_cast<HRESULT>(0x80041085),
    WBEM_E_FATAL_TRANSPORT_ERROR = static_cast<HRESULT>(0x80041086),
    WBEM_E_ENCRYPTED_CONNECTION_REQUIRED = static_cast<HRESULT>(0x80041087),
    WBEM_E_PROVIDER_TIMED_OUT = static_cast<HRESULT>(0x80041088),
    WBEM_E_NO_KEY = static_cast<HRESULT>(0x80041089),
    WBEM_E_PROVIDER_DISABLED = static_cast<HRESULT>(0x8004108A),
};

// --- flags --------------------------------------------------------------------------------------------------
enum WBEM_GENERIC_FLAG_TYPE : LONG {
    WBEM_FLAG_RETURN_WBEM_COMPLETE = 0,
    WBEM_FLAG_BIDIRECTIONAL = 0,
    WBEM_FLAG_RETURN_IMMEDIATELY = 0x10,
    WBEM_FLAG_FORWARD_ONLY = 0x20,
    WBEM_FLAG_NO_ERROR_OBJECT = 0x40,
    WBEM_FLAG_RETURN_ERROR_OBJECT = 0,
    WBEM_FLAG_SEND_STATUS = 0x80,
    WBEM_FLAG_DONT_SEND_STATUS = 0,
    WBEM_FLAG_ENSURE_LOCATABLE = 0x100,
    WBEM_FLAG_DIRECT_READ = 0x200,
    WBEM_FLAG_USE_AMENDED_QUALIFIERS = 0x20000,
    WBEM_FLAG_STRONG_VALIDATION = 0x100000,
};
enum WBEM_QUERY_FLAG_TYPE : LONG { WBEM_FLAG_DEEP = 0, WBEM_FLAG_SHALLOW = 1, WBEM_FLAG_PROTOTYPE = 2 };
enum WBEM_CHANGE_FLAG_TYPE : LONG {
    WBEM_FLAG_CREATE_OR_UPDATE = 0,
    WBEM_FLAG_UPDATE_ONLY = 1,
    WBEM_FLAG_CREATE_ONLY = 2,
    WBEM_FLAG_UPDATE_COMPATIBLE = 0,
    WBEM_FLAG_UPDATE_SAFE_MODE = 0x20,
    WBEM_FLAG_UPDATE_FORCE_MODE = 0x40,
};
enum WBEM_CONDITION_FLAG_TYPE : LONG {
    WBEM_FLAG_ALWAYS = 0,
    WBEM_FLAG_ONLY_IF_TRUE = 0x1,
    WBEM_FLAG_ONLY_IF_FALSE = 0x2,
    WBEM_FLAG_ONLY_IF_IDENTICAL = 0x3,
    WBEM_MASK_PRIMARY_CONDITION = 0x3,
    WBEM_FLAG_KEYS_ONLY = 0x4,
    WBEM_FLAG_REFS_ONLY = 0x8,
    WBEM_FLAG_LOCAL_ONLY = 0x10,
    WBEM_FLAG_PROPAGATED_ONLY = 0x20,
    WBEM_FLAG_SYSTEM_ONLY = 0x30,
    WBEM_FLAG_NONSYSTEM_ONLY = 0x40,
    WBEM_MASK_CONDITION_ORIGIN = 0x70,
};
enum WBEM_TIMEOUT_TYPE : LONG { WBEM_NO_WAIT = 0, WBEM_INFINITE = static_cast<LONG>(0xFFFFFFFF) };
enum WBEM_STATUS_TYPE : LONG { WBEM_STATUS_COMPLETE = 0, WBEM_STATUS_REQUIREMENTS = 1, WBEM_STATUS_PROGRESS = 2 };
enum WBEM_TEXT_FLAG_TYPE : LONG { WBEM_FLAG_NO_FLAVORS = 0x1 };
enum WBEM_CONNECT_OPTIONS : LONG { WBEM_FLAG_CONNECT_REPOSITORY_ONLY = 0x40, WBEM_FLAG_CONNECT_USE_MAX_WAIT = 0x80 };
enum WBEM_GENUS_TYPE : LONG { WBEM_GENUS_CLASS = 1, WBEM_GENUS_INSTANCE = 2 };

enum WBEM_FLAVOR_TYPE : LONG {
    WBEM_FLAVOR_DONT_PROPAGATE = 0,
    WBEM_FLAVOR_FLAG_PROPAGATE_TO_INSTANCE = 0x1,
    WBEM_FLAVOR_FLAG_PROPAGATE_TO_DERIVED_CLASS = 0x2,
    WBEM_FLAVOR_MASK_PROPAGATION = 0xF,
    WBEM_FLAVOR_OVERRIDABLE = 0,
    WBEM_FLAVOR_NOT_OVERRIDABLE = 0x10,
    WBEM_FLAVOR_MASK_PERMISSIONS = 0x10,
    WBEM_FLAVOR_ORIGIN_LOCAL = 0,
    WBEM_FLAVOR_ORIGIN_PROPAGATED = 0x20,
    WBEM_FLAVOR_ORIGIN_SYSTEM = 0x40,
    WBEM_FLAVOR_MASK_ORIGIN = 0x60,
    WBEM_FLAVOR_NOT_AMENDED = 0,
    WBEM_FLAVOR_AMENDED = 0x80,
    WBEM_FLAVOR_MASK_AMENDED = 0x80,
};

enum CIMTYPE_ENUMERATION : CIMTYPE {
    CIM_ILLEGAL = 0xFFF,
    CIM_EMPTY = 0,
    CIM_SINT8 = 16,
    CIM_UINT8 = 17,
    CIM_SINT16 = 2,
    CIM_UINT16 = 18,
    CIM_SINT32 = 3,
    CIM_UINT32 = 19,
    CIM_SINT64 = 20,
    CIM_UINT64 = 21,
    CIM_REAL32 = 4,
    CIM_REAL64 = 5,
    CIM_BOOLEAN = 11,
    CIM_STRING = 8,
    CIM_DATETIME = 101,
    CIM_REFERENCE = 102,
    CIM_CHAR16 = 103,
    CIM_OBJECT = 13,
    CIM_FLAG_ARRAY = 0x2000,
};

// --- interfaces ---------------------------------------------------------------------------------------------
DEFINE_GUID(IID_IWbemClassObject, 0xdc12a681, 0x737f, 0x11cf, 0x88, 0x4d, 0x00, 0xaa, 0x00, 0x4b, 0x2e, 0x24);
DEFINE_GUID(IID_IWbemQualifierSet, 0xdc12a680, 0x737f, 0x11cf, 0x88, 0x4d, 0x00, 0xaa, 0x00, 0x4b, 0x2e, 0x24);
DEFINE_GUID(IID_IWbemLocator, 0xdc12a687, 0x737f, 0x11cf, 0x88, 0x4d, 0x00, 0xaa, 0x00, 0x4b, 0x2e, 0x24);
DEFINE_GUID(IID_IWbemObjectSink, 0x7c857801, 0x7381, 0x11cf, 0x88, 0x4d, 0x00, 0xaa, 0x00, 0x4b, 0x2e, 0x24);
DEFINE_GUID(IID_IEnumWbemClassObject, 0x027947e1, 0xd731, 0x11ce, 0xa3, 0x57, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01);
DEFINE_GUID(IID_IWbemCallResult, 0x44aca675, 0xe8fc, 0x11d0, 0xa0, 0x7c, 0x00, 0xc0, 0x4f, 0xb6, 0x88, 0x20);
DEFINE_GUID(IID_IWbemContext, 0x44aca674, 0xe8fc, 0x11d0, 0xa0, 0x7c, 0x00, 0xc0, 0x4f, 0xb6, 0x88, 0x20);
DEFINE_GUID(IID_IWbemServices, 0x9556dc99, 0x828c, 0x11cf, 0xa3, 0x7e, 0x00, 0xaa, 0x00, 0x32, 0x40, 0xc7);
DEFINE_GUID(CLSID_WbemLocator, 0x4590f811, 0x1d3a, 0x11d0, 0x89, 0x1f, 0x00, 0xaa, 0x00, 0x4b, 0x2e, 0x24);
DEFINE_GUID(CLSID_WbemContext, 0x674b6698, 0xee92, 0x11d0, 0xad, 0x71, 0x00, 0xc0, 0x4f, 0xd8, 0xfd, 0xff);

struct IWbemQualifierSet;
struct IWbemServices;
struct IWbemObjectSink;
struct IWbemCallResult;
struct IWbemContext;
struct IEnumWbemClassObject;

struct IWbemClassObject : IUnknown {
    STDMETHOD(GetQualifierSet)(IWbemQualifierSet** qualifiers) = 0;
    STDMETHOD(Get)(LPCWSTR name, LONG flags, VARIANT* value, CIMTYPE* type, LONG* flavor) = 0;
    STDMETHOD(Put)(LPCWSTR name, LONG flags, VARIANT* value, CIMTYPE type) = 0;
    STDMETHOD(Delete)(LPCWSTR name) = 0;
    STDMETHOD(GetNames)(LPCWSTR qualifierName, LONG flags, VARIANT* qualifierValue, SAFEARRAY** names) = 0;
    STDMETHOD(BeginEnumeration)(LONG enumFlags) = 0;
    STDMETHOD(Next)(LONG flags, BSTR* name, VARIANT* value, CIMTYPE* type, LONG* flavor) = 0;
    STDMETHOD(EndEnumeration)() = 0;
    STDMETHOD(GetPropertyQualifierSet)(LPCWSTR property, IWbemQualifierSet** qualifiers) = 0;
    STDMETHOD(Clone)(IWbemClassObject** copy) = 0;
    STDMETHOD(GetObjectText)(LONG flags, BSTR* text) = 0;
    STDMETHOD(SpawnDerivedClass)(LONG flags, IWbemClassObject** newClass) = 0;
    STDMETHOD(SpawnInstance)(LONG flags, IWbemClassObject** newInstance) = 0;
    STDMETHOD(CompareTo)(LONG flags, IWbemClassObject* compareTo) = 0;
    STDMETHOD(GetPropertyOrigin)(LPCWSTR name, BSTR* className) = 0;
    STDMETHOD(InheritsFrom)(LPCWSTR ancestor) = 0;
    STDMETHOD(GetMethod)(LPCWSTR name, LONG flags, IWbemClassObject** inSignature, IWbemClassObject** outSignature) = 0;
    STDMETHOD(PutMethod)(LPCWSTR name, LONG flags, IWbemClassObject* inSignature, IWbemClassObject* outSignature) = 0;
    STDMETHOD(DeleteMethod)(LPCWSTR name) = 0;
    STDMETHOD(BeginMethodEnumeration)(LONG enumFlags) = 0;
    STDMETHOD(NextMethod)(LONG flags, BSTR* name, IWbemClassObject** inSignature, IWbemClassObject** outSignature) = 0;
    STDMETHOD(EndMethodEnumeration)() = 0;
    STDMETHOD(GetMethodQualifierSet)(LPCWSTR method, IWbemQualifierSet** qualifiers) = 0;
    STDMETHOD(GetMethodOrigin)(LPCWSTR methodName, BSTR* className) = 0;

protected:
    ~IWbemClassObject() = default;
};

struct IWbemQualifierSet : IUnknown {
    STDMETHOD(Get)(LPCWSTR name, LONG flags, VARIANT* value, LONG* flavor) = 0;
    STDMETHOD(Put)(LPCWSTR name, VARIANT* value, LONG flavor) = 0;
    STDMETHOD(Delete)(LPCWSTR name) = 0;
    STDMETHOD(GetNames)(LONG flags, SAFEARRAY** names) = 0;
    STDMETHOD(BeginEnumeration)(LONG flags) = 0;
    STDMETHOD(Next)(LONG flags, BSTR* name, VARIANT* value, LONG* flavor) = 0;
    STDMETHOD(EndEnumeration)() = 0;

protected:
    ~IWbemQualifierSet() = default;
};

struct IWbemObjectSink : IUnknown {
    STDMETHOD(Indicate)(LONG objectCount, IWbemClassObject** objects) = 0;
    STDMETHOD(SetStatus)(LONG flags, HRESULT result, BSTR param, IWbemClassObject* objectParam) = 0;

protected:
    ~IWbemObjectSink() = default;
};

struct IEnumWbemClassObject : IUnknown {
    STDMETHOD(Reset)() = 0;
    STDMETHOD(Next)(LONG timeout, ULONG count, IWbemClassObject** objects, ULONG* returned) = 0;
    STDMETHOD(NextAsync)(ULONG count, IWbemObjectSink* sink) = 0;
    STDMETHOD(Clone)(IEnumWbemClassObject** copy) = 0;
    STDMETHOD(Skip)(LONG timeout, ULONG count) = 0;

protected:
    ~IEnumWbemClassObject() = default;
};

struct IWbemCallResult : IUnknown {
    STDMETHOD(GetResultObject)(LONG timeout, IWbemClassObject** object) = 0;
    STDMETHOD(GetResultString)(LONG timeout, BSTR* text) = 0;
    STDMETHOD(GetResultServices)(LONG timeout, IWbemServices** services) = 0;
    STDMETHOD(GetCallStatus)(LONG timeout, LONG* status) = 0;

protected:
    ~IWbemCallResult() = default;
};

struct IWbemContext : IUnknown {
    STDMETHOD(Clone)(IWbemContext** copy) = 0;
    STDMETHOD(GetNames)(LONG flags, SAFEARRAY** names) = 0;
    STDMETHOD(BeginEnumeration)(LONG flags) = 0;
    STDMETHOD(Next)(LONG flags, BSTR* name, VARIANT* value) = 0;
    STDMETHOD(EndEnumeration)() = 0;
    STDMETHOD(SetValue)(LPCWSTR name, LONG flags, VARIANT* value) = 0;
    STDMETHOD(GetValue)(LPCWSTR name, LONG flags, VARIANT* value) = 0;
    STDMETHOD(DeleteValue)(LPCWSTR name, LONG flags) = 0;
    STDMETHOD(DeleteAll)() = 0;

protected:
    ~IWbemContext() = default;
};

struct IWbemServices : IUnknown {
    STDMETHOD(OpenNamespace)(const BSTR ns, LONG flags, IWbemContext* context, IWbemServices** working,
                             IWbemCallResult** result) = 0;
    STDMETHOD(CancelAsyncCall)(IWbemObjectSink* sink) = 0;
    STDMETHOD(QueryObjectSink)(LONG flags, IWbemObjectSink** handler) = 0;
    STDMETHOD(GetObject)(const BSTR objectPath, LONG flags, IWbemContext* context, IWbemClassObject** object,
                         IWbemCallResult** result) = 0;
    STDMETHOD(GetObjectAsync)(const BSTR objectPath, LONG flags, IWbemContext* context, IWbemObjectSink* handler) = 0;
    STDMETHOD(PutClass)(IWbemClassObject* object, LONG flags, IWbemContext* context, IWbemCallResult** result) = 0;
    STDMETHOD(PutClassAsync)(IWbemClassObject* object, LONG flags, IWbemContext* context, IWbemObjectSink* handler) = 0;
    STDMETHOD(DeleteClass)(const BSTR className, LONG flags, IWbemContext* context, IWbemCallResult** result) = 0;
    STDMETHOD(DeleteClassAsync)(const BSTR className, LONG flags, IWbemContext* context, IWbemObjectSink* handler) = 0;
    STDMETHOD(CreateClassEnum)(const BSTR superclass, LONG flags, IWbemContext* context,
                               IEnumWbemClassObject** enumerator) = 0;
    STDMETHOD(CreateClassEnumAsync)(const BSTR superclass, LONG flags, IWbemContext* context,
                                    IWbemObjectSink* handler) = 0;
    STDMETHOD(PutInstance)(IWbemClassObject* instance, LONG flags, IWbemContext* context, IWbemCallResult** result) = 0;
    STDMETHOD(PutInstanceAsync)(IWbemClassObject* instance, LONG flags, IWbemContext* context,
                                IWbemObjectSink* handler) = 0;
    STDMETHOD(DeleteInstance)(const BSTR objectPath, LONG flags, IWbemContext* context, IWbemCallResult** result) = 0;
    STDMETHOD(DeleteInstanceAsync)(const BSTR objectPath, LONG flags, IWbemContext* context,
                                   IWbemObjectSink* handler) = 0;
    STDMETHOD(CreateInstanceEnum)(const BSTR filter, LONG flags, IWbemContext* context,
                                  IEnumWbemClassObject** enumerator) = 0;
    STDMETHOD(CreateInstanceEnumAsync)(const BSTR filter, LONG flags, IWbemContext* context,
                                       IWbemObjectSink* handler) = 0;
    STDMETHOD(ExecQuery)(const BSTR language, const BSTR query, LONG flags, IWbemContext* context,
                         IEnumWbemClassObject** enumerator) = 0;
    STDMETHOD(ExecQueryAsync)(const BSTR language, const BSTR query, LONG flags, IWbemContext* context,
                              IWbemObjectSink* handler) = 0;
    STDMETHOD(ExecNotificationQuery)(const BSTR language, const BSTR query, LONG flags, IWbemContext* context,
                                     IEnumWbemClassObject** enumerator) = 0;
    STDMETHOD(ExecNotificationQueryAsync)(const BSTR language, const BSTR query, LONG flags, IWbemContext* context,
                                          IWbemObjectSink* handler) = 0;
    STDMETHOD(ExecMethod)(const BSTR objectPath, const BSTR methodName, LONG flags, IWbemContext* context,
                          IWbemClassObject* inParams, IWbemClassObject** outParams, IWbemCallResult** result) = 0;
    STDMETHOD(ExecMethodAsync)(const BSTR objectPath, const BSTR methodName, LONG flags, IWbemContext* context,
                               IWbemClassObject* inParams, IWbemObjectSink* handler) = 0;

protected:
    ~IWbemServices() = default;
};

struct IWbemLocator : IUnknown {
    STDMETHOD(ConnectServer)(const BSTR networkResource, const BSTR user, const BSTR password, const BSTR locale,
                             LONG securityFlags, const BSTR authority, IWbemContext* context, IWbemServices** ns) = 0;

protected:
    ~IWbemLocator() = default;
};
