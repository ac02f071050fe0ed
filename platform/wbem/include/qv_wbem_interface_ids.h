// The IIDs of the WMI interfaces, for qv::com::Object's QueryInterface.
#pragma once

#include "qv_com_object.h"
#include "wbemcli.h"
#include "wbemprov.h"

QV_COM_INTERFACE_ID(IWbemClassObject, IUnknown, IID_IWbemClassObject);
QV_COM_INTERFACE_ID(IWbemQualifierSet, IUnknown, IID_IWbemQualifierSet);
QV_COM_INTERFACE_ID(IWbemLocator, IUnknown, IID_IWbemLocator);
QV_COM_INTERFACE_ID(IWbemObjectSink, IUnknown, IID_IWbemObjectSink);
QV_COM_INTERFACE_ID(IEnumWbemClassObject, IUnknown, IID_IEnumWbemClassObject);
QV_COM_INTERFACE_ID(IWbemCallResult, IUnknown, IID_IWbemCallResult);
QV_COM_INTERFACE_ID(IWbemContext, IUnknown, IID_IWbemContext);
QV_COM_INTERFACE_ID(IWbemServices, IUnknown, IID_IWbemServices);
QV_COM_INTERFACE_ID(IWbemProviderInitSink, IUnknown, IID_IWbemProviderInitSink);
QV_COM_INTERFACE_ID(IWbemProviderInit, IUnknown, IID_IWbemProviderInit);
QV_COM_INTERFACE_ID(IWbemDecoupledRegistrar, IUnknown, IID_IWbemDecoupledRegistrar);
QV_COM_INTERFACE_ID(IWbemDecoupledBasicEventProvider, IWbemDecoupledRegistrar, IID_IWbemDecoupledBasicEventProvider);
