// The system classes of a namespace: the namespace class, providers and their registrations, events, and
// the decoupled provider class, declared as WMI declares them (the properties this platform uses).
#include "system_classes.h"

namespace qv::wbem {

const wchar_t* SystemClassesMof() {
    return LR"MOF(
[abstract] class __SystemClass
{
};

class __NAMESPACE : __SystemClass
{
	[key] string Name;
};

[abstract] class __Provider : __SystemClass
{
	[key] string Name;
};

class __Win32Provider : __Provider
{
	string ClientLoadableCLSID;
	string CLSID;
	sint32 Concurrency;
	string DefaultMachineName;
	boolean Enabled;
	string HostingModel;
	sint32 ImpersonationLevel = 0;
	sint32 InitializationReentrancy = 0;
	boolean InitializeAsAdminFirst;
	string InitializationTimeoutInterval;
	boolean PerLocaleInitialization = FALSE;
	boolean PerUserInitialization = FALSE;
	boolean Pure = TRUE;
	string SecurityDescriptor;
	boolean SupportsExplicitShutdown;
	boolean SupportsExtendedStatus;
	boolean SupportsQuotas;
	boolean SupportsSendStatus;
	boolean SupportsShutdown;
	boolean SupportsThrottling;
	datetime UnloadTimeout;
	uint32 Version = 1;
};

[abstract] class __ProviderRegistration : __SystemClass
{
	[key] __Provider ref Provider;
};

[abstract] class __ObjectProviderRegistration : __ProviderRegistration
{
	sint32 InteractionType = 0;
	string QuerySupportLevels[];
	boolean SupportsBatching;
	boolean SupportsDelete = FALSE;
	boolean SupportsEnumeration = FALSE;
	boolean SupportsGet = FALSE;
	boolean SupportsPut = FALSE;
	boolean SupportsTransactions;
};

class __InstanceProviderRegistration : __ObjectProviderRegistration
{
};

class __MethodProviderRegistration : __ProviderRegistration
{
};

class __EventProviderRegistration : __ProviderRegistration
{
	string EventQueryList[];
};

class __EventConsumerProviderRegistration : __ProviderRegistration
{
	string ConsumerClassNames[];
};

[abstract] class __IndicationRelated : __SystemClass
{
};

[abstract] class __Event : __IndicationRelated
{
	uint8 SECURITY_DESCRIPTOR[];
	uint64 TIME_CREATED;
};

[abstract] class __ExtrinsicEvent : __Event
{
};

[abstract] class __InstanceOperationEvent : __Event
{
	object TargetInstance;
};

class __InstanceCreationEvent : __InstanceOperationEvent
{
};

class __InstanceDeletionEvent : __InstanceOperationEvent
{
};

class __InstanceModificationEvent : __InstanceOperationEvent
{
	object PreviousInstance;
};

class MSFT_DecoupledProvider : __Win32Provider
{
	string Clsid = "{54D8502C-527D-43F7-A506-A9DA075E229C}";
	string HostingModel = "Decoupled:Com";
	string SecurityDescriptor;
};
)MOF";
}

}  // namespace qv::wbem
