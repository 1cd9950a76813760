// Lifecycle interface of every module, the plug-in's and the host's own.
//
// Frozen ABI (slot order): destructor, Init, AfterInit, Shut. The host drives
// every module through Init, then every module through AfterInit, before it
// creates logic classes or delivers any event; at unload the plug-in's
// creators call Shut and destroy their modules themselves.
#pragma once

#include <string>

class IKernel;

class IModule {
public:
    virtual ~IModule() {}
    // Looks up the host modules this module depends on. False when one is
    // missing (after logging why); the host decides what follows.
    virtual bool Init(IKernel* kernel) { (void)kernel; return true; }
    // Registers callbacks, hooks and heartbeats; loads resource tables.
    virtual bool AfterInit(IKernel* kernel) { (void)kernel; return true; }
    virtual bool Shut() { return true; }
};

// A module the host's activity machinery can address.
// Frozen ABI: five slots appended after IModule's four, in this order.
class IActivityRuleSystem : public IModule {
public:
    // context is passed through by the host and read by no rule system.
    // key names a creator number in decimal. Returns 1.
    virtual int SetActivityState(void* context, int state, const std::string& key) = 0;
    virtual int ActivityHook1(void* context) = 0;
    virtual int ActivityHook2(void* context) = 0;
    virtual int ActivityHook3(void* context) = 0;
    virtual int ActivityHook4(void* context) = 0;
};
