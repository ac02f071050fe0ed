// Completions, object queues, the enumerator clients read and the sink providers write to.
#include "com_object.h"

namespace qv::wbem::service {

void Completion::Set(HRESULT result) {
    std::lock_guard lock(mutex_);
    if (done_) return;
    done_ = true;
    result_ = result;
    cv_.notify_all();
}

HRESULT Completion::Wait(long milliseconds) {
    std::unique_lock lock(mutex_);
    if (!cv_.wait_for(lock, std::chrono::milliseconds(milliseconds), [&] { return done_; })) return WBEM_E_TIMED_OUT;
    return result_;
}

bool Completion::Done() {
    std::lock_guard lock(mutex_);
    return done_;
}

ObjectQueue::~ObjectQueue() {
    for (auto* o : objects_) o->Release();
}

void ObjectQueue::Push(IWbemClassObject* object) {
    std::lock_guard lock(mutex_);
    objects_.push_back(object);
    cv_.notify_all();
}

void ObjectQueue::Finish(HRESULT status) {
    std::lock_guard lock(mutex_);
    finished_ = true;
    status_ = status;
    cv_.notify_all();
}

HRESULT ObjectQueue::Pop(LONG timeout, ULONG count, IWbemClassObject** objects, ULONG* returned) {
    long limit = timeout == WBEM_INFINITE ? EnvMilliseconds("QV_COM_CALL_TIMEOUT_MS", 300000) - 1000 : timeout;
    if (limit < 0) limit = 0;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(limit);
    std::unique_lock lock(mutex_);
    ULONG got = 0;
    while (got < count) {
        if (!objects_.empty()) {
            objects[got++] = objects_.front();
            objects_.pop_front();
            continue;
        }
        if (finished_) break;
        // Hand out what is there rather than holding a streaming client back.
        if (got > 0) break;
        if (cv_.wait_until(lock, deadline) == std::cv_status::timeout && objects_.empty() && !finished_) break;
    }
    *returned = got;
    if (got == count) return S_OK;
    if (finished_ && objects_.empty()) return FAILED(status_) ? status_ : WBEM_S_FALSE;
    return got > 0 ? S_OK : WBEM_S_TIMEDOUT;
}

namespace {

class Enumerator final : public ServiceObject<IEnumWbemClassObject> {
public:
    Enumerator(std::shared_ptr<ObjectQueue> queue, std::function<void()> on_release)
        : ServiceObject(IID_IEnumWbemClassObject), queue_(std::move(queue)), on_release_(std::move(on_release)) {}
    ~Enumerator() override {
        if (on_release_) on_release_();
    }
    STDMETHODIMP Reset() override { return WBEM_E_INVALID_OPERATION; }
    STDMETHODIMP Next(LONG timeout, ULONG count, IWbemClassObject** objects, ULONG* returned) override {
        if (objects == nullptr || returned == nullptr) return WBEM_E_INVALID_PARAMETER;
        *returned = 0;
        if (timeout < 0 && timeout != WBEM_INFINITE) return WBEM_E_INVALID_PARAMETER;
        if (count == 0) return S_OK;
        return queue_->Pop(timeout, count, objects, returned);
    }
    STDMETHODIMP NextAsync(ULONG, IWbemObjectSink*) override { return WBEM_E_NOT_SUPPORTED; }
    STDMETHODIMP Clone(IEnumWbemClassObject** copy) override {
        if (copy != nullptr) *copy = nullptr;
        return WBEM_E_INVALID_OPERATION;
    }
    STDMETHODIMP Skip(LONG timeout, ULONG count) override {
        for (ULONG i = 0; i < count; ++i) {
            IWbemClassObject* object = nullptr;
            ULONG got = 0;
            HRESULT hr = queue_->Pop(timeout, 1, &object, &got);
            if (got == 0) return hr;
            object->Release();
        }
        return S_OK;
    }

private:
    std::shared_ptr<ObjectQueue> queue_;
    std::function<void()> on_release_;
};

class CollectSink final : public ServiceObject<IWbemObjectSink> {
public:
    CollectSink(std::function<void(IWbemClassObject*)> on_object, std::shared_ptr<Completion> done)
        : ServiceObject(IID_IWbemObjectSink), on_object_(std::move(on_object)), done_(std::move(done)) {}
    STDMETHODIMP Indicate(LONG count, IWbemClassObject** objects) override {
        if (count < 0 || (count > 0 && objects == nullptr)) return WBEM_E_INVALID_PARAMETER;
        if (done_->Done()) return WBEM_E_CALL_CANCELLED;
        for (LONG i = 0; i < count; ++i)
            if (objects[i] != nullptr) on_object_(objects[i]);
        return S_OK;
    }
    STDMETHODIMP SetStatus(LONG flags, HRESULT result, BSTR, IWbemClassObject*) override {
        if (flags == WBEM_STATUS_COMPLETE) done_->Set(result);
        return S_OK;
    }

protected:
    // Only our own reference left: the provider let the sink go, finished or not.
    std::function<void()> OnlyOwnerLeft() const override {
        return [done = done_] { done->Set(WBEM_E_PROVIDER_FAILURE); };
    }

private:
    std::function<void(IWbemClassObject*)> on_object_;
    std::shared_ptr<Completion> done_;
};

}  // namespace

IEnumWbemClassObject* CreateEnumerator(std::shared_ptr<ObjectQueue> queue, std::function<void()> on_release) {
    return new Enumerator(std::move(queue), std::move(on_release));
}

IWbemObjectSink* CreateCollectSink(std::function<void(IWbemClassObject*)> on_object, std::shared_ptr<Completion> done) {
    return new CollectSink(std::move(on_object), std::move(done));
}

}  // namespace qv::wbem::service
