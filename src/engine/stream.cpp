#include "engine/stream.h"

#if defined(__linux__) || defined(__SANITIZE_THREAD__)
#include <pthread.h>
#endif

#include <Poco/Exception.h>
#include <Poco/Format.h>

#include <algorithm>

#include "audio_chunk.h"
#include "console.h"
#include "dsp_config.h"
#include "engine/child_process.h"
#include "engine/encoder_process.h"
#include "engine/failure_text.h"
#include "engine/formatter.h"
#include "engine/message_pump.h"
#include "engine/output_gain.h"
#include "engine/round_pace.h"
#include "plugin/utils.h"
#include "server/server.h"
#include "service_lookup.h"
#include "titleformat_util.h"
#include "zof/bit_array.h"

POCO_IMPLEMENT_EXCEPTION(StreamReconnecting, Poco::ApplicationException, "The stream is reconnecting")
POCO_IMPLEMENT_EXCEPTION(StreamStopped, Poco::ApplicationException, "The stream stopped")

// The server connection of one start, with the settings record it reads.
// Requests besides the audio (titles, listener lists, reconnection) share
// it with the worker and may outlive the stream's own reference, so it is
// held through shared pointers; `requests` lets one of them use it at a
// time.
struct Stream::Connection {
    ServerSettings settings;
    int format = 0;
    std::mutex requests;
    std::unique_ptr<Server> server;
};

namespace {

// How long the old programs may take to hand over the rest of their output
// when the programs restart for a new title or the stream stops.
const DWORD kTailTime = 5000;
// How long a stop gives the rest of the stream (the programs' tail and the
// sends still to make, the one in progress included) before it closes: a
// server that stopped reading holds a stop no longer than this.
const Poco::Timespan kStopGrace(1, 0);
// Of that grace, the programs' tail leaves this much to the sends that
// carry it: a tail that comes late still gets out.
const Poco::Timespan kSendReserve(0, 200000);

// The worker takes what the capture thread gathered once every this many
// milliseconds, so the encoder gets the audio in a few large writes a
// second instead of one per chunk of the player, which saves it and the
// worker most of their wake-ups. The capture thread wakes the worker only
// when two pieces wait (a player faster than real time, or a worker that
// fell behind): in real time it never pays for a wake-up, and the worker
// never takes its processor in the middle of a chunk.
const unsigned kPieceMilliseconds = 250;
const std::size_t kWakePieces = 2;
// After handing the programs a piece, the worker waits this long at most
// for their first output of it, so the piece reaches the server in the
// same round.
const DWORD kOutputWait = 20;

bool isOgg(int format) { return format == FORMAT_OGG_VORBIS || format == FORMAT_OGG_FLAC || format == FORMAT_OGG_OPUS; }

// Settings that no stream can run with, refused before anything starts.
void checkSettings(const EncoderSettings& encoder) {
    if (encoder.sampling_rate <= 0 || encoder.sampling_rate > static_cast<int>(audio_chunk::sample_rate_max))
        throw Poco::ApplicationException(Poco::format("The sampling rate %d Hz cannot be streamed; it must lie between "
                                                      "1 and %u Hz.",
                                                      static_cast<int>(encoder.sampling_rate),
                                                      static_cast<unsigned>(audio_chunk::sample_rate_max)));
    if (encoder.channel != 1 && encoder.channel != 2)
        throw Poco::ApplicationException(
            Poco::format("A stream has 1 or 2 channels, not %d.", static_cast<int>(encoder.channel)));
    if (encoder.wave_format < WAVE_INT16 || encoder.wave_format > WAVE_FLOAT32)
        throw Poco::ApplicationException(Poco::format(
            "Unknown PCM format %d (0 is 16-bit, 1 24-bit, 2 32-bit float).", static_cast<int>(encoder.wave_format)));
}

} // namespace

Stream::Stream(StreamEventListener* observer, const EncoderSettings& encoder, const ServerSettings& server)
    : observer_(observer),
      encoder_settings_(encoder),
      server_settings_(server),
      // Sized for real at each start, from the settings then in force.
      input_fifo_(4),
      encoder_input_fifo_(4),
      output_fifo_(4) {}

Stream::~Stream() {
    try {
        // Ended without a stop: nothing more goes out, and no event. Set
        // before the quit, which a worker may see at once.
        ending_quietly_ = true;
        std::unique_lock<std::mutex> lock(control_);
        askStopLocked();
        Worker worker = std::move(worker_);
        worker_ = Worker();
        lock.unlock();
        if (worker.thread.joinable()) {
            while (loop_active_ && !signal_.post(COMMAND_QUIT))
                serveMessagesOrSleep();
            joinWorker(worker);
        }
        lock.lock();
        joinRetiredLocked(lock);
        if (capture_ != nullptr)
            capture_->removeListener(this);
        capture_ = nullptr;
    } catch (...) {
        // Nothing may leave a destructor.
    }
#if defined(__SANITIZE_THREAD__)
    // A standard mutex ends without telling the race detector, which would
    // then take a later object's mutex at the same address for one of these
    // and report lock orders that never met.
    for (std::mutex* m : {&control_, &settings_mutex_, &status_mutex_, &titles_mutex_, &connection_mutex_,
                          &programs_gate_, &signal_.mutex()})
        pthread_mutex_destroy(m->native_handle());
#endif
}

// ---------------------------------------------------------------- lifecycle
void Stream::start(psc_callback* capture) {
    std::unique_lock<std::mutex> lock(control_);
    try {
        joinRetiredLocked(lock);
        if (worker_.thread.joinable()) {
            lock.unlock();
            console_printf("velmora: %s is already streaming", name().c_str());
            return;
        }
        cancel_ = false;
        programs_cutoff_.reset();
        deferred_stop_ = false;
        format_failed_ = false;
        title_pending_ = false;
        unproven_ = false;
        programs_failed_ = false;
        given_up_ = false;
        wait_noticed_ = false;
        {
            std::lock_guard<std::mutex> titles(titles_mutex_);
            has_sent_title_ = false;
            sent_title_.clear();
        }
        ServerSettings server;
        {
            std::lock_guard<std::mutex> settings(settings_mutex_);
            run_ = encoder_settings_;
            server = server_settings_;
        }
        checkSettings(run_);
        if (observer_ != nullptr)
            observer_->checkStart(this);

        // Three seconds of float audio, for the settings of this start.
        const std::size_t capacity =
            static_cast<std::size_t>(run_.sampling_rate) * static_cast<std::size_t>(run_.channel) * 12;
        input_fifo_.resize(capacity, false);
        encoder_input_fifo_.resize(capacity, false);
        output_fifo_.resize(capacity, false);
        wav_header_.clear();

        const std::size_t piece_frames = static_cast<std::size_t>(run_.sampling_rate) * kPieceMilliseconds / 1000;
        const std::size_t piece_samples = piece_frames * static_cast<std::size_t>(run_.channel);
        piece_bytes_ = piece_samples * sizeof(float);
        // The programs' pipes hold a whole piece of PCM, with room for a
        // piece that came late and the WAV header, so a piece goes in with
        // one write.
        const std::size_t pcm_bytes = run_.wave_format == WAVE_INT16 ? 2 : run_.wave_format == WAVE_INT24 ? 3 : 4;
        pipe_size_ = static_cast<DWORD>(piece_samples * pcm_bytes * 3 / 2 + 4096);

        if (!run_.program_file.empty()) {
            startPreprocessor();
        } else if (preprocessor_) {
            preprocessor_->close();
            preprocessor_.reset();
        }

        int bits = 0;
        formatter_ = createFormatter(run_.wave_format, &bits);

        encoder_.reset(new EncoderProcess(run_.encoder_file, run_.encoder_params));
        encoder_->setPipeSizes(pipe_size_, pipe_size_);
        encoder_->setLabel(name());
        encoder_->setCutoff(&programs_cutoff_);
        encoder_artist_.clear();
        encoder_title_.clear();
        if (isOgg(run_.format)) {
            formatTitle("%artist%", encoder_artist_);
            formatTitle("%title%", encoder_title_);
            encoder_->open(encoder_artist_, encoder_title_);
        } else {
            encoder_->open();
        }

        if (run_.wave_header) {
            makeWavHeader(wav_header_, run_.channel, run_.sampling_rate, bits);
            encoder_input_fifo_.write(reinterpret_cast<const char*>(wav_header_.data()), wav_header_.size());
        }

        auto connection = std::make_shared<Connection>();
        connection->settings = server;
        connection->format = run_.format;
        connection->server = Server::create(connection->settings);
        if (!connection->server)
            throw Poco::ApplicationException(
                Poco::format("Unknown server type %d (0 Icecast2, 1 SHOUTcast v1, 2 SHOUTcast v2).",
                             static_cast<int>(server.type)));
        {
            std::lock_guard<std::mutex> guard(connection_mutex_);
            connection_ = connection;
        }
        {
            std::lock_guard<std::mutex> requests(connection->requests);
            connection->server->connect();
            connection->server->login(run_);
        }

        dsp_chain_config_impl chain;
        dsp_chain_for_stream(chain, run_.channel, static_cast<std::uint32_t>(run_.sampling_rate));
        dsp_.set_config(chain);
        dsp_holds_audio_ = false;
        capture_rate_ = static_cast<std::uint32_t>(run_.sampling_rate);
        capture_channels_ = static_cast<std::uint32_t>(run_.channel);

        startWorkerLocked();
        capture_ = capture;
        if (capture_ != nullptr)
            capture_->addListener(this);
        {
            std::lock_guard<std::mutex> titles(titles_mutex_);
            titles_.clear();
        }
        {
            std::lock_guard<std::mutex> status(status_mutex_);
            status_.clients_requested = false;
            status_.running = true;
        }
        lock.unlock();
        raise(StreamEventListener::EVENT_STARTED);
    } catch (...) {
        const std::string text = currentFailureText();
        if (lock.owns_lock())
            lock.unlock();
        fail(text);
    }
}

void Stream::stop() {
    std::unique_lock<std::mutex> lock(control_);
    const std::uint64_t stops = stops_;
    if (worker_.thread.joinable() && worker_.thread.get_id() == std::this_thread::get_id()) {
        if (loop_active_) {
            // Asked by a listener inside the command loop (a statistics
            // event): the loop ends after this command and stops then.
            deferred_stop_ = true;
            limitSends();
            return;
        }
        // The worker stops its own stream (handling its error): it cannot
        // join itself, so its handle waits for whoever comes next.
        limitSends();
        retired_.push_back(std::move(worker_));
        retired_count_ = retired_.size();
        worker_ = Worker();
    } else {
        // Another stop is waiting for the worker: a click served by its
        // wait on this thread, or the worker's own stop on its error path.
        // That stop releases the parts once the worker has ended.
        if (stopping_)
            return;
        askStopLocked();
        Worker worker = std::move(worker_);
        worker_ = Worker();
        stopping_ = true;
        struct Stopping {
            bool& flag;
            std::unique_lock<std::mutex>& lock;
            ~Stopping() {
                if (!lock.owns_lock())
                    lock.lock();
                flag = false;
            }
        } stopping{stopping_, lock};
        if (worker.thread.joinable()) {
            lock.unlock();
            // A worker whose loop has ended (on its error path) takes no
            // more commands; it only has to end.
            while (loop_active_ && !signal_.post(COMMAND_QUIT))
                serveMessagesOrSleep();
            joinWorker(worker);
            lock.lock();
        }
        joinRetiredLocked(lock);
        // The worker stopped the stream itself while we waited for it.
        if (stops_ != stops)
            return;
    }
    releasePartsLocked();
    ++stops_;
    lock.unlock();
    raiseQuietly(StreamEventListener::EVENT_STOPPED);
}

void Stream::askStop() {
    std::lock_guard<std::mutex> lock(control_);
    askStopLocked();
}

void Stream::askStopLocked() {
    cancel_ = true;
    askQuit();
    cancel_cv_.notify_all();
    // A title or listener request, or a reconnection's login, must not
    // hold the stop, nor a server that stopped reading.
    cancelExchanges();
    limitSends();
}

bool Stream::stopAsked() {
    std::lock_guard<std::mutex> lock(control_);
    return cancel_;
}

std::optional<std::string> Stream::reconnect() {
    {
        std::lock_guard<std::mutex> lock(control_);
        if (cancel_)
            return std::nullopt;
        if (worker_.thread.get_id() != std::this_thread::get_id() || loop_active_) {
            console_printf("velmora: %s: a reconnection is made only by the stream's worker after an error",
                           name().c_str());
            return std::nullopt;
        }
    }
    reapEndedWorkers();
    std::string reason;
    {
        std::lock_guard<std::mutex> status(status_mutex_);
        reason = status_.error_text;
        // A reconnection that only logged in, after which the stream failed
        // again before it carried audio for a while, was no success.
        if (unproven_.exchange(false))
            ++status_.reconnect_count;
        else
            status_.reconnect_count = 0;
        status_.reconnecting = true;
        given_up_ = false;
    }
    // The broken connection is closed now, not after the first wait: the
    // server lets the source go only when it is closed.
    if (std::shared_ptr<Connection> link = connection()) {
        std::lock_guard<std::mutex> requests(link->requests);
        link->server->disconnect();
    }
    bool reconnected = false;
    bool cancelled = false;
    for (;;) {
        {
            std::lock_guard<std::mutex> status(status_mutex_);
            if (status_.reconnect_count >= 3)
                break;
        }
        raiseQuietly(StreamEventListener::EVENT_RECONNECTING);
        {
            std::unique_lock<std::mutex> lock(control_);
            if (cancel_cv_.wait_for(lock, reconnect_wait_, [this] { return cancel_; })) {
                cancelled = true;
                break;
            }
        }
        try {
            reconnected = attemptReconnection();
            cancelled = !reconnected;
        } catch (...) {
            // A login that the stop ended (it cancels the exchange, which
            // then fails) is no attempt: not counted, not reported.
            if (stopAsked()) {
                cancelled = true;
                break;
            }
            reason = currentFailureText();
            std::lock_guard<std::mutex> status(status_mutex_);
            ++status_.reconnect_count;
            continue;
        }
        break;
    }
    if (reconnected) {
        raiseQuietly(StreamEventListener::EVENT_STARTED);
    } else if (!cancelled) {
        {
            std::lock_guard<std::mutex> status(status_mutex_);
            status_.error_text = reason;
        }
        given_up_ = true;
        console_printf("velmora: Reconnection given up after 3 attempts: %s: %s", name().c_str(), reason.c_str());
    }
    {
        std::lock_guard<std::mutex> status(status_mutex_);
        status_.reconnecting = false;
    }
    // The next wait has its own console line.
    if (reconnected)
        wait_noticed_ = false;
    // The server forgot the title with the old source.
    if (reconnected)
        return resendTitle();
    return std::nullopt;
}

bool Stream::attemptReconnection() {
    reapEndedWorkers();
    std::shared_ptr<Connection> link = connection();
    if (!link)
        throw Poco::ApplicationException("The stream has no server connection.");
    // Programs that ended or failed start again, and Ogg streams begin a
    // new stream with its headers for the listeners of the new connection.
    // The old programs end before the new connection is made, with what
    // they still held.
    const bool restart = isOgg(run_.format) || programs_failed_ || !programsRunning();
    if (restart)
        closePrograms();
    {
        std::lock_guard<std::mutex> requests(link->requests);
        link->server->disconnect();
        link->server->connect();
        link->server->login(run_);
    }
    if (restart) {
        std::string artist = encoder_artist_;
        std::string title = encoder_title_;
        // The programs start with the latest title: one asked for until
        // now needs no restart of its own, one asked for later gets it
        // from the new worker.
        title_pending_ = false;
        {
            std::lock_guard<std::mutex> titles(titles_mutex_);
            if (!titles_.empty()) {
                artist = titles_.back().artist;
                title = titles_.back().title;
            }
        }
        if (!openPrograms(artist, title))
            return false;
    }
    std::lock_guard<std::mutex> lock(control_);
    if (cancel_)
        return false;
    retired_.push_back(std::move(worker_));
    retired_count_ = retired_.size();
    worker_ = Worker();
    unproven_ = settle_seconds_ > 0;
    startWorkerLocked();
    return true;
}

bool Stream::programsRunning() {
    return encoder_ && encoder_->isRunning() && (!preprocessor_ || preprocessor_->isRunning());
}

void Stream::closePrograms() {
    encoder_input_fifo_.drain();
    output_fifo_.drain();
    if (preprocessor_)
        preprocessor_->close();
    if (encoder_)
        encoder_->close();
}

void Stream::askQuit() {
    std::lock_guard<std::mutex> gate(programs_gate_);
    quit_asked_ = true;
}

bool Stream::openPrograms(const std::string& artist, const std::string& title) {
    // Once a stop is asked no program starts. A stop from another thread
    // asks under the gate, so it comes either before this look or after
    // the programs have started; a deferred stop is the worker's own.
    std::lock_guard<std::mutex> gate(programs_gate_);
    if (quit_asked_ || deferred_stop_)
        return false;
    programs_failed_ = true;
    if (!run_.program_file.empty())
        startPreprocessor();
    if (isOgg(run_.format))
        encoder_->open(artist, title);
    else
        encoder_->open();
    encoder_artist_ = artist;
    encoder_title_ = title;
    if (!wav_header_.empty())
        encoder_input_fifo_.write(reinterpret_cast<const char*>(wav_header_.data()), wav_header_.size());
    programs_failed_ = false;
    return true;
}

std::optional<std::string> Stream::resendTitle() {
    if (isOgg(run_.format))
        return std::nullopt;
    std::shared_ptr<Connection> link = connection();
    if (!link)
        return std::nullopt;
    std::lock_guard<std::mutex> sending(title_send_mutex_);
    std::string title;
    {
        std::lock_guard<std::mutex> titles(titles_mutex_);
        if (!has_sent_title_)
            return std::nullopt;
        title = sent_title_;
    }
    try {
        link->server->updateMetadata(title);
        return title;
    } catch (...) {
        const std::string text = currentFailureText();
        // Ended by a stop: nothing to report.
        if (stopAsked())
            return std::nullopt;
        console_printf("velmora: %s: the title could not be sent again after the reconnection: %s", name().c_str(),
                       text.c_str());
    }
    return std::nullopt;
}

void Stream::cancelExchanges() {
    if (std::shared_ptr<Connection> link = connection())
        link->server->cancel();
}

void Stream::limitSends() {
    programs_cutoff_.bringTo(kStopGrace - kSendReserve);
    if (std::shared_ptr<Connection> link = connection())
        link->server->limitSends(kStopGrace);
}

void Stream::reapEndedWorkers() {
    if (retired_count_ == 0)
        return;
    std::vector<Worker> ended;
    {
        std::unique_lock<std::mutex> lock(control_, std::try_to_lock);
        if (!lock.owns_lock())
            return;
        for (auto it = retired_.begin(); it != retired_.end();) {
            if (it->thread.get_id() != std::this_thread::get_id() && it->done && it->done->load()) {
                ended.push_back(std::move(*it));
                it = retired_.erase(it);
            } else {
                ++it;
            }
        }
        retired_count_ = retired_.size();
    }
    // Their bodies have returned: each join is a moment.
    for (Worker& worker : ended)
        worker.thread.join();
}

void Stream::startWorkerLocked() {
    auto done = std::make_shared<std::atomic<bool>>(false);
    loop_active_ = true;
    quit_asked_ = false;
    try {
        worker_.thread = std::thread(&Stream::run, this, done);
    } catch (...) {
        loop_active_ = false;
        throw;
    }
    worker_.done = done;
}

void Stream::joinWorker(Worker& worker) {
    if (!worker.thread.joinable())
        return;
    // The worker may be waiting for the window (its event handling works
    // through window messages): the main thread serves them meanwhile.
    if (core_is_main_thread())
        while (!worker.done->load())
            serveMessagesOrSleep();
    worker.thread.join();
}

void Stream::joinRetiredLocked(std::unique_lock<std::mutex>& lock) {
    std::vector<Worker> ending;
    for (auto it = retired_.begin(); it != retired_.end();) {
        if (it->thread.get_id() == std::this_thread::get_id()) {
            ++it;
        } else {
            ending.push_back(std::move(*it));
            it = retired_.erase(it);
        }
    }
    retired_count_ = retired_.size();
    if (ending.empty())
        return;
    lock.unlock();
    for (Worker& worker : ending)
        joinWorker(worker);
    lock.lock();
}

void Stream::releasePartsLocked() {
    signal_.reset();
    std::shared_ptr<Connection> link;
    {
        std::lock_guard<std::mutex> guard(connection_mutex_);
        link = std::move(connection_);
        connection_.reset();
    }
    if (link) {
        link->server->cancel();
        std::lock_guard<std::mutex> requests(link->requests);
        link->server->disconnect();
    }
    encoder_.reset();
    formatter_.reset();
    if (preprocessor_) {
        preprocessor_->close();
        preprocessor_.reset();
    }
    link.reset();
    // Unregistered first: no capture call can then be inside the DSP run.
    if (capture_ != nullptr) {
        capture_->removeListener(this);
        capture_ = nullptr;
    }
    dsp_.release_instances();
    std::lock_guard<std::mutex> status(status_mutex_);
    status_.bytes_this_second = 0;
    status_.running = false;
}

// ---------------------------------------------------------------- worker
void Stream::run(std::shared_ptr<std::atomic<bool>> done) {
#if defined(__linux__)
    // Named for the system's tools (top -H, /proc/PID/task), which then
    // tell the streams' workers from the player's threads.
    pthread_setname_np(pthread_self(), "velmora-stream");
#endif
    std::string error;
    try {
        commandLoop();
    } catch (...) {
        error = currentFailureText();
    }
    loop_active_ = false;
    if (!error.empty() && (quit_asked_ || deferred_stop_)) {
        // The stream was ending anyway (a stop's grace may cut the send to
        // a server that stopped reading): no error of the stream.
        if (!ending_quietly_)
            console_printf("velmora: %s: the end of the stream could not be sent: %s", name().c_str(),
                           error.c_str());
        error.clear();
    }
    if (!error.empty()) {
        fail(error);
    } else if (deferred_stop_.exchange(false)) {
        try {
            stop();
        } catch (...) {
            console_printf("velmora: %s: stop failed: %s", name().c_str(), currentFailureText().c_str());
        }
    }
    done->store(true);
}

void Stream::commandLoop() {
    {
        std::lock_guard<std::mutex> status(status_mutex_);
        status_.bytes_this_second = 0;
        status_.samples_read = 0;
        status_.seconds = 0;
        status_.bytes_sent = 0;
    }
    next_round_ = std::chrono::steady_clock::now() + std::chrono::milliseconds(kPieceMilliseconds);
    for (;;) {
        // The worker that reconnected the stream before this one.
        reapEndedWorkers();
        // A worker with work waiting goes round without sleeping on the
        // signal, so a stop's post may find its lock taken every time: the
        // stop's flag ends it as its post would.
        if (quit_asked_) {
            finishStream();
            return;
        }
        std::unique_lock<std::mutex> lock(signal_.mutex());
        int command = COMMAND_DATA;
        // What gathered goes when the round is due or when the capture
        // thread has a backlog; the same round takes a partial piece when
        // the player has stopped or delivers slowly, and collects what the
        // programs still had on the way. A title or a backlog that came
        // while this worker was busy, when the posts were refused, is taken
        // at once, unless a command waits.
        const auto now = std::chrono::steady_clock::now();
        const bool at_once = title_pending_ || inputWaiting() >= kWakePieces * piece_bytes_ || now >= next_round_;
        signal_.waitFor(lock,
                        at_once ? std::chrono::milliseconds(0)
                                : std::chrono::ceil<std::chrono::milliseconds>(next_round_ - now),
                        command);
        next_round_ = nextRound(next_round_, std::chrono::steady_clock::now(),
                                std::chrono::milliseconds(kPieceMilliseconds));
        if (command == COMMAND_QUIT) {
            finishStream();
            return;
        }
        if (command == COMMAND_DATA)
            processData();
        // A title asked for while this worker was busy is not lost: the
        // request waits for the next command.
        const bool title_asked = title_pending_.exchange(false);
        if (command == COMMAND_NEW_TITLE || title_asked)
            newTitle();
        if (deferred_stop_) {
            finishStream();
            return;
        }
    }
}

std::size_t Stream::inputWaiting() {
    Poco::Mutex::ScopedLock fifo(input_fifo_.mutex());
    return input_fifo_.used();
}

void Stream::processData() {
    if (format_failed_) {
        std::lock_guard<std::mutex> status(status_mutex_);
        throw Poco::ApplicationException(format_error_);
    }
    // Every whole float waiting (the capture path writes whole floats),
    // read straight into the float vector. Only this thread reads, so what
    // was counted is still there; the vector is sized without the FIFO's
    // lock, which the capture thread's write takes.
    const std::size_t n = inputWaiting() / sizeof(float);
    floats_.resize(n);
    if (n != 0)
        input_fifo_.read(reinterpret_cast<char*>(floats_.data()), n * sizeof(float));
    formatter_->format(floats_, pcm_);
    if (!preprocessor_ && encoder_input_fifo_.used() == 0) {
        // Nothing waits before these bytes: they go to the encoder as they
        // are, without a copy through its input FIFO.
        programs_failed_ = true;
        encoder_->encode(reinterpret_cast<const char*>(pcm_.data()), pcm_.size(), output_fifo_, kOutputWait);
        programs_failed_ = false;
        finishData(n);
        return;
    }
    encoder_input_fifo_.write(reinterpret_cast<const char*>(pcm_.data()), pcm_.size());

    programs_failed_ = true;
    if (preprocessor_) {
        preprocessor_input_.resize(encoder_input_fifo_.used());
        preprocessor_input_.resize(encoder_input_fifo_.read(preprocessor_input_.data(), preprocessor_input_.size()));
        try {
            // (The pump's last step prints the program's standard error.)
            preprocessor_->pump(preprocessor_input_.data(), preprocessor_input_.size(), encoder_input_fifo_,
                                "Pre-processing", kOutputWait);
        } catch (DWORD code) {
            throw Poco::ApplicationException(Poco::format("Pipe error %lu with the pre-processing program %s.",
                                                          static_cast<unsigned long>(code), preprocessor_->program()));
        }
    }
    encoder_->encode(encoder_input_fifo_, output_fifo_, kOutputWait);
    programs_failed_ = false;
    finishData(n);
}

void Stream::finishData(std::size_t n) {
    const int sent = send();
    bool tick = false;
    {
        std::lock_guard<std::mutex> status(status_mutex_);
        status_.bytes_this_second += sent;
        status_.samples_read += n;
        const std::uint64_t elapsed = status_.samples_read / static_cast<std::uint64_t>(run_.sampling_rate) /
                                      static_cast<std::uint64_t>(run_.channel);
        if (elapsed > status_.seconds) {
            status_.bytes_sent += static_cast<std::uint64_t>(status_.bytes_this_second);
            ++status_.seconds;
            tick = true;
            // A reconnected stream that carried audio this long counts as
            // recovered.
            if (status_.seconds >= settle_seconds_)
                unproven_ = false;
        }
    }
    if (tick) {
        raiseQuietly(StreamEventListener::EVENT_STATISTICS);
        std::lock_guard<std::mutex> status(status_mutex_);
        status_.bytes_this_second = 0;
    }
}

void Stream::finishStream() {
    if (ending_quietly_)
        return;
    // The stream is ending anyway: a failure here is told on the console,
    // not as an error of the stream.
    try {
        // Programs that a restart ended and the stop kept from starting
        // again have given all they had; what was captured since is not
        // streamed.
        if (encoder_->isOpen()) {
            processData();
            // The programs' tail ends the stream whole (the last MP3
            // frames, the last Ogg page); the stop's grace bounds it,
            // keeping part of itself for the send.
            finishPrograms(kTailTime);
        }
        const int sent = send();
        std::lock_guard<std::mutex> status(status_mutex_);
        status_.bytes_this_second += sent;
    } catch (...) {
        try {
            console_printf("velmora: %s: the end of the stream could not be sent: %s", name().c_str(),
                           currentFailureText().c_str());
        } catch (...) {
        }
    }
}

int Stream::send() {
    if (output_fifo_.used() == 0)
        return 0;
    std::shared_ptr<Connection> link = connection();
    if (!link)
        throw Poco::ApplicationException("The stream has no server connection.");
    try {
        return link->server->sendData(output_fifo_);
    } catch (const ServerStalled& stalled) {
        // What the server took before it stopped was sent all the same.
        std::lock_guard<std::mutex> status(status_mutex_);
        status_.bytes_this_second += stalled.sent();
        throw;
    }
}

void Stream::newTitle() {
    TitleRecord last;
    {
        std::lock_guard<std::mutex> titles(titles_mutex_);
        if (titles_.empty())
            return;
        last = titles_.back();
    }
    // What was captured before the title changed belongs to the old
    // programs: the last partial piece goes to them before they end.
    processData();
    programs_failed_ = true;
    restartPrograms(last.artist, last.title);
    programs_failed_ = false;
    // The old stream's end goes out now, whether or not audio follows.
    const int sent = send();
    std::lock_guard<std::mutex> status(status_mutex_);
    status_.bytes_this_second += sent;
}

void Stream::restartPrograms(const std::string& artist, const std::string& title) {
    // What the old programs still hold ends their stream whole (an Ogg
    // page cut in half would reach the listeners before the new headers):
    // it goes out first.
    finishPrograms(kTailTime);
    openPrograms(artist, title);
}

void Stream::finishPrograms(DWORD tail_time) {
    // Both programs share the time.
    const DWORD start = GetTickCount();
    auto left = [&] {
        const DWORD used = GetTickCount() - start;
        return used >= tail_time ? DWORD(0) : tail_time - used;
    };
    try {
        if (preprocessor_)
            preprocessor_->finish(encoder_input_fifo_, left());
    } catch (DWORD code) {
        throw Poco::ApplicationException(Poco::format("Pipe error %lu with the pre-processing program %s.",
                                                      static_cast<unsigned long>(code), preprocessor_->program()));
    }
    encoder_->encode(encoder_input_fifo_, output_fifo_);
    try {
        encoder_->finish(output_fifo_, left());
    } catch (DWORD code) {
        throw Poco::ApplicationException(Poco::format("encode error (%lu)", static_cast<unsigned long>(code)));
    }
}

void Stream::startPreprocessor() {
    if (!preprocessor_)
        preprocessor_.reset(new ChildProcess);
    preprocessor_->setPipeSizes(pipe_size_, pipe_size_);
    preprocessor_->setLabel(name());
    preprocessor_->setCutoff(&programs_cutoff_);
    std::string failed = Poco::format("Failed to start the pre-processing program %s.", run_.program_file);
    std::wstring line;
    try {
        line = fromUtf8(run_.program_file + " " + run_.program_params);
    } catch (const std::exception&) {
        throw Poco::ApplicationException(failed);
    }
    if (!preprocessor_->start(line))
        throw Poco::ApplicationException(failed + "\n" + preprocessor_->startFailure());
    try {
        preprocessor_->setNonBlocking();
    } catch (DWORD) {
        preprocessor_->close();
        throw Poco::ApplicationException(failed);
    }
}

// ---------------------------------------------------------------- capture
void Stream::onChunk(const audio_chunk& chunk) {
    const float gain = outputGain();
    const bool matches = chunk.sample_rate() == capture_rate_ && chunk.channel_total() == capture_channels_;
    if (matches && !dsp_holds_audio_) {
        // The player's resampler and channel converter would hand this
        // chunk on as it is: it goes to the FIFO without a copy of its own
        // and without a round through them.
        if (chunk.is_valid())
            writeInput(chunk.samples(), chunk.float_total(), gain);
    } else {
        audio_chunk* copy =
            chunk_list_.insert_chunk(chunk_list_.chunk_total(), chunk.frame_total() * chunk.channel_total());
        if (copy != nullptr)
            copy->copy_from(chunk);
        // Back at the stream's own format, the DSPs hand over what they
        // still hold (the resampler's tail) and hold nothing afterwards.
        dsp_.run(&chunk_list_, nullptr, matches ? std::uint32_t(dsp::flag_flush) : 0u, abort_);
        dsp_holds_audio_ = !matches;
        for (zof::t_size i = 0; i < chunk_list_.chunk_total(); ++i) {
            const audio_chunk* out = chunk_list_.chunk_at(i);
            if (out->sample_rate() != capture_rate_ || out->channel_total() != capture_channels_) {
                // Without the player's resampler or converter the audio would
                // go out at the wrong speed or with its channels mixed up.
                if (!format_failed_) {
                    std::lock_guard<std::mutex> status(status_mutex_);
                    format_error_ = Poco::format(
                        "The player delivers %u Hz with %u channels, but the stream is set to %u Hz with %u "
                        "channels, and the player has no resampler or channel converter to make it so.",
                        static_cast<unsigned>(out->sample_rate()), static_cast<unsigned>(out->channel_total()),
                        static_cast<unsigned>(capture_rate_), static_cast<unsigned>(capture_channels_));
                    format_failed_ = true;
                }
                break;
            }
            writeInput(out->samples(), out->float_total(), gain);
        }
        chunk_list_.erase_marked(zof::bit_array_true());
    }
    // A backlog wakes the worker; in real time its own rounds take the
    // audio. A refused post is made again with the next chunk.
    if (format_failed_ || inputWaiting() >= kWakePieces * piece_bytes_)
        signal_.post(COMMAND_DATA);
}

void Stream::writeInput(const float* samples, std::size_t count, float gain) {
    if (gain != 1.0f) {
        // (Grows once; the same size every chunk after that.)
        scaled_.resize(count);
        audio_math::scale(samples, count, scaled_.data(), gain);
        samples = scaled_.data();
    }
    input_fifo_.write(reinterpret_cast<const char*>(samples), count * sizeof(float));
}

double Stream::inputBacklog() {
    {
        std::lock_guard<std::mutex> status(status_mutex_);
        if (!status_.running)
            return 0;
    }
    std::size_t waiting;
    {
        Poco::Mutex::ScopedLock fifo(input_fifo_.mutex());
        waiting = input_fifo_.used();
    }
    if (waiting == 0)
        return 0;
    signal_.post(COMMAND_DATA);
    return static_cast<double>(waiting) / (sizeof(float) * static_cast<double>(capture_rate_) * capture_channels_);
}

// ---------------------------------------------------------------- requests
Stream::Reach Stream::reach(const std::shared_ptr<Connection>& link) const {
    if (!link || quit_asked_ || deferred_stop_ || given_up_)
        return Reach::NOWHERE;
    bool waiting;
    {
        std::lock_guard<std::mutex> status(status_mutex_);
        waiting = status_.reconnecting;
    }
    // A worker whose loop has ended failed: the stream is reconnected or
    // stopped next.
    if (!waiting && loop_active_)
        return Reach::SERVER;
    if (reconnection_seen_)
        reconnection_seen_();
    return Reach::RECONNECTION;
}

bool Stream::stopReached(const std::shared_ptr<Connection>& link) const {
    // A stop from another thread sets its flag before it cancels the
    // exchanges; one on the worker's error path releases the connection
    // first.
    return quit_asked_ || deferred_stop_ || !link || connection() != link;
}

bool Stream::updateMetadata(const std::string& title) {
    std::shared_ptr<Connection> link = connection();
    // A title that goes nowhere is never reported as sent.
    if (!link)
        throw StreamStopped("The title was not sent: the stream is not connected to the server.");
    // Stored before the look at where the title goes, so that a
    // reconnection that ends after that look carries this title, not the
    // one before: for other formats the title the reconnection sends
    // again; for Ogg the mark that the programs are to restart with the
    // last title record (the reconnection restarts them itself and takes
    // the mark; a title after that is left to the new worker).
    std::string sent_before;
    bool had_sent = false;
    if (!isOgg(link->format)) {
        std::lock_guard<std::mutex> titles(titles_mutex_);
        sent_before = std::move(sent_title_);
        had_sent = has_sent_title_;
        sent_title_ = title;
        has_sent_title_ = true;
    } else {
        title_pending_ = true;
    }
    const Reach where = reach(link);
    if (where == Reach::NOWHERE) {
        // Turned away: nothing of it is left for the worker or a
        // reconnection to act on.
        if (!isOgg(link->format)) {
            std::lock_guard<std::mutex> titles(titles_mutex_);
            sent_title_ = std::move(sent_before);
            has_sent_title_ = had_sent;
        } else {
            title_pending_ = false;
        }
        if (given_up_)
            throw Poco::ApplicationException("The title was not sent: the stream gave up reconnecting.");
        throw StreamStopped("The title was not sent: the stream is stopping.");
    }
    if (where == Reach::RECONNECTION)
        return false;
    if (isOgg(link->format)) {
        signal_.post(COMMAND_NEW_TITLE);
        return true;
    }
    // A request of its own (or, for SHOUTcast v2, one packet under the
    // connection's own lock): a stop does not wait for it, it cancels it.
    std::lock_guard<std::mutex> sending(title_send_mutex_);
    try {
        link->server->updateMetadata(title);
    } catch (const Poco::Exception& e) {
        if (stopReached(link))
            throw StreamStopped(e.message());
        throw;
    }
    return true;
}

std::string Stream::listClients() {
    std::shared_ptr<Connection> link = connection();
    const Reach where = reach(link);
    if (where == Reach::RECONNECTION)
        throw StreamReconnecting("The listener list was not asked for.");
    std::string user;
    std::string password;
    {
        std::lock_guard<std::mutex> status(status_mutex_);
        status_.clients_requested = true;
        user = status_.admin_user;
        password = status_.admin_password;
    }
    try {
        if (where == Reach::NOWHERE)
            throw Poco::ApplicationException("The stream is not connected.");
        return link->server->listClients(user, password);
    } catch (const Poco::Exception& e) {
        {
            std::lock_guard<std::mutex> status(status_mutex_);
            status_.clients_requested = false;
        }
        if (!given_up_ && stopReached(link))
            throw StreamStopped(e.message());
        // As it came: its class and text say what failed.
        throw;
    }
}

std::shared_ptr<Stream::Connection> Stream::connection() const {
    std::lock_guard<std::mutex> guard(connection_mutex_);
    return connection_;
}

// ---------------------------------------------------------------- records
StreamStatus Stream::status() const {
    std::lock_guard<std::mutex> status(status_mutex_);
    return status_;
}

ServerSettings Stream::serverSettings() const {
    std::lock_guard<std::mutex> settings(settings_mutex_);
    return server_settings_;
}

EncoderSettings Stream::encoderSettings() const {
    std::lock_guard<std::mutex> settings(settings_mutex_);
    return encoder_settings_;
}

void Stream::setServerSettings(const ServerSettings& settings) {
    std::lock_guard<std::mutex> guard(settings_mutex_);
    server_settings_ = settings;
}

void Stream::setEncoderSettings(const EncoderSettings& settings) {
    std::lock_guard<std::mutex> guard(settings_mutex_);
    encoder_settings_ = settings;
}

void Stream::setAdminCredentials(const std::string& user, const std::string& password) {
    std::lock_guard<std::mutex> status(status_mutex_);
    status_.admin_user = user;
    status_.admin_password = password;
}

std::vector<TitleRecord> Stream::titleRecords() const {
    std::lock_guard<std::mutex> titles(titles_mutex_);
    return titles_;
}

void Stream::addTitle(const std::string& artist, const std::string& title) {
    std::lock_guard<std::mutex> titles(titles_mutex_);
    titles_.push_back(TitleRecord{title, artist});
}

// ---------------------------------------------------------------- events
std::string Stream::name() const {
    std::lock_guard<std::mutex> settings(settings_mutex_);
    return server_settings_.yp.name;
}

void Stream::fail(const std::string& text) {
    {
        std::lock_guard<std::mutex> status(status_mutex_);
        status_.error_text = text;
    }
    raiseQuietly(StreamEventListener::EVENT_ERROR);
}

void Stream::raise(int event) {
    if (observer_ != nullptr && !ending_quietly_)
        observer_->onStreamEvent(this, event);
}

void Stream::raiseQuietly(int event) {
    try {
        raise(event);
    } catch (...) {
        try {
            console_printf("velmora: %s: the handling of stream event %d failed: %s", name().c_str(), event,
                           currentFailureText().c_str());
        } catch (...) {
        }
    }
}
