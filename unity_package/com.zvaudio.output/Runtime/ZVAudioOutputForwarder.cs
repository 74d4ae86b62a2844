using System;
using System.Collections.Generic;
using System.IO;
using Unity.Profiling;
using UnityEngine;
#if UNITY_EDITOR
using UnityEditor;
#endif

namespace ZVAudio.Output
{
    // Sends everything the engine plays through this GameObject's audio filter
    // chain to the platform output. Put it on the AudioListener's GameObject to
    // forward the whole mix, or on an AudioSource's to forward that source, and
    // keep it last among the audio filters.
    //
    // Engine glue only: the decisions live in ForwarderController, AudioForwarder
    // and OutputFormat.
    [DisallowMultipleComponent]
    [AddComponentMenu("Audio/ZV Audio Output Forwarder")]
    public sealed class ZVAudioOutputForwarder : MonoBehaviour, ISerializationCallbackReceiver
    {
        // Latency control is on unless switched off: without it the two clocks'
        // drift fills the 1 s ring in about 55 minutes at -300 ppm, after which
        // every overflow splices the stream. It costs a resampling pass on the
        // audio thread and a rate correction of at most 1000 ppm, which no one hears.
        public const int DefaultLatencyTargetMilliseconds = 60;

        [Tooltip("Seconds of audio the native ring holds before the oldest samples are overwritten.")]
        [Range(1, 10)]
        [SerializeField]
        private int bufferSeconds = 1;

        [Tooltip("Also let the engine play the audio through its own output.")]
        [SerializeField]
        private bool loopback = false;

        [Tooltip("Queue depth the plug-in steers towards, in milliseconds (0 = off). It keeps the " +
                 "engine's and the platform's clock drift from filling the ring, which would splice " +
                 "the stream after about an hour; it costs a resampling pass on the audio thread " +
                 "and a rate correction of at most 1000 ppm, which is inaudible.")]
        [Min(0)]
        [SerializeField]
        private int latencyTargetMilliseconds = DefaultLatencyTargetMilliseconds;

        // The layout of the fields above as saved (ForwarderMigration). A field
        // missing from saved data keeps its initial value, so data saved before
        // this field existed reads as kUnversioned; a new component gets the
        // current version from Reset, or from a script that sets the target.
        [SerializeField]
        private int formatVersion = ForwarderMigration.kUnversioned;

        // What the migration changed, said once on the main thread; null when nothing.
        [NonSerialized]
        private volatile string migrationNote;

        // The audio thread's share of the Profiler's time, under a name of its own.
        private static readonly ProfilerMarker forwardMarker = new ProfilerMarker("ZVAudioOutput.Forward");

        // Created with the component, so the audio thread never sees it change.
        private readonly AudioForwarder forwarder = new AudioForwarder();
        private ForwarderController controller;
        // Set by the audio thread when forwarding threw, or by OnValidate; Update reports it.
        private volatile Exception audioThreadFailure;
        private volatile Exception validateFailure;

        public int BufferSeconds
        {
            get { return bufferSeconds; }
            set { bufferSeconds = Mathf.Clamp(value, 1, 10); }
        }

        // Read by the audio thread; a plain bool field write is atomic.
        public bool Loopback
        {
            get { return loopback; }
            set { loopback = value; }
        }

        // Applied at once while the output is open, and whenever it opens.
        public int LatencyTargetMilliseconds
        {
            get { return latencyTargetMilliseconds; }
            set
            {
                latencyTargetMilliseconds = Mathf.Max(0, value);
                formatVersion = ForwarderMigration.kCurrentVersion;
                forwarder.LatencyTargetMilliseconds = (uint)latencyTargetMilliseconds;
            }
        }

        // What the upgrade of this component's saved fields changed, once: the
        // console line it says (also shown by the inspector), then null.
        public string TakeMigrationNote()
        {
            string note = migrationNote;
            migrationNote = null;
            return note;
        }

        public bool IsOpen
        {
            get { return forwarder.IsOpen; }
        }

        // False when the platform refused the stream: the engine's audio is then
        // left as it is, and the output is tried again on the next audio
        // configuration change or when the component is enabled again.
        public bool HasStream
        {
            get { return forwarder.HasStream; }
        }

        public AudioForwarder.OpenResult Status
        {
            get { return forwarder.Status; }
        }

        // The runtime's words when the plug-in is missing or out of date, else null.
        public string Problem
        {
            get { return forwarder.Problem; }
        }

        public OutputFormat Format
        {
            get { return forwarder.Format; }
        }

        // Refreshed once a frame while this forwarder owns the output.
        public bool TryGetReport(out OutputReport current)
        {
            if (controller == null)
            {
                current = new OutputReport();
                return false;
            }
            return controller.TryGetReport(out current);
        }

        // Entering play mode without a domain reload keeps static fields; this
        // runs before the first scene loads either way (see the engine manual,
        // "Domain Reloading" and RuntimeInitializeLoadType.SubsystemRegistration).
        [RuntimeInitializeOnLoadMethod(RuntimeInitializeLoadType.SubsystemRegistration)]
        private static void ResetStatics()
        {
            AudioForwarder.ForgetSession();
            ZVAudioOutputNative.PlatformLibraryCandidates = PlatformLibraryCandidates;
        }

        // Where the project holds a platform DLL, for the preload before the plug-in
        // is bound. Main thread (binding runs in Open). In the Editor: every copy the
        // plug-in importer knows of (Path.GetFullPath resolves "Packages/..." asset
        // paths too: engine manual, "Accessing package assets"); in a player: the
        // data folder's plug-in folders.
        private static IList<string> PlatformLibraryCandidates(string file)
        {
#if UNITY_EDITOR
            var paths = new List<string>();
            foreach (PluginImporter importer in PluginImporter.GetAllImporters())
            {
                if (string.Equals(Path.GetFileName(importer.assetPath), file, StringComparison.OrdinalIgnoreCase))
                    paths.Add(Path.GetFullPath(importer.assetPath));
            }
            return paths;
#else
            return PlatformLibraryPreload.PlayerCandidates(Application.dataPath, file);
#endif
        }

        // The engine runs these two wherever it (de)serializes the component:
        // loading a scene, Instantiate, the inspector, a script reload; "Unity's
        // serializer runs on a different thread to most of the Unity API"
        // (scripting reference, ISerializationCallbackReceiver). So they touch
        // this component's own fields only; the note is said from OnEnable or
        // the inspector, on the main thread.
        void ISerializationCallbackReceiver.OnBeforeSerialize()
        {
        }

        void ISerializationCallbackReceiver.OnAfterDeserialize()
        {
            string note = ForwarderMigration.Migrate(ref formatVersion, ref latencyTargetMilliseconds,
                                                     DefaultLatencyTargetMilliseconds);
            if (note != null)
                migrationNote = note;
        }

        // Editor only: when the component is added, or reset from its menu.
        private void Reset()
        {
            formatVersion = ForwarderMigration.kCurrentVersion;
        }

        // Every engine callback below catches what it runs: an exception is said
        // once, with this component as its context, and the component gives up.
        private void OnEnable()
        {
            try
            {
                string note = TakeMigrationNote();
                if (note != null)
                    Debug.Log(note, this);
                if (controller == null)
                    controller = new ForwarderController(new ConsoleLog(this), forwarder);
                audioThreadFailure = null;
                validateFailure = null;
                AudioSettings.OnAudioConfigurationChanged += OnAudioConfigurationChanged;
                Application.quitting += Shutdown;
#if UNITY_EDITOR
                AssemblyReloadEvents.beforeAssemblyReload += Shutdown;
#endif
                Open();
            }
            catch (Exception e)
            {
                GiveUp(e);
            }
        }

        private void OnDisable()
        {
            try
            {
                AudioSettings.OnAudioConfigurationChanged -= OnAudioConfigurationChanged;
                Application.quitting -= Shutdown;
#if UNITY_EDITOR
                AssemblyReloadEvents.beforeAssemblyReload -= Shutdown;
#endif
                Shutdown();
            }
            catch (Exception e)
            {
                GiveUp(e);
            }
        }

        // Also before a script reload in the Editor and when the application quits.
        private void Shutdown()
        {
            try
            {
                if (controller != null)
                    controller.Close();
            }
            catch (Exception e)
            {
                GiveUp(e);
            }
        }

        // Editor only, and possibly on the loading thread (scripting reference,
        // MonoBehaviour.OnValidate: no engine API that is not thread-safe). It
        // keeps the field in range and leaves the native call to Update; an
        // exception is kept for Update too.
        private void OnValidate()
        {
            try
            {
                latencyTargetMilliseconds = Math.Max(0, latencyTargetMilliseconds);
                ForwarderController current = controller;
                if (current != null)
                    current.RequestLatencyTarget(latencyTargetMilliseconds);
            }
            catch (Exception e)
            {
                validateFailure = e;
            }
        }

        private void Update()
        {
            try
            {
                Exception failure = audioThreadFailure;
                if (failure != null)
                    throw new InvalidOperationException("forwarding failed on the audio thread: " +
                                                            failure.Message, failure);
                failure = validateFailure;
                if (failure != null)
                    throw new InvalidOperationException("OnValidate failed: " + failure.Message, failure);
                controller.Update();
                if (controller.GaveUp)
                    enabled = false;
            }
            catch (Exception e)
            {
                GiveUp(e);
            }
        }

        // Audio thread: no engine calls but the marker, no allocation; a failure
        // is kept for Update, which reports it on the main thread.
        private void OnAudioFilterRead(float[] data, int channels)
        {
            if (audioThreadFailure != null)
                return;
            try
            {
                using (forwardMarker.Auto())
                    forwarder.Forward(data, channels, loopback);
            }
            catch (Exception e)
            {
                audioThreadFailure = e;
            }
        }

        private void OnAudioConfigurationChanged(bool deviceWasChanged)
        {
            try
            {
                if (isActiveAndEnabled)
                    Open();
            }
            catch (Exception e)
            {
                GiveUp(e);
            }
        }

        private void Open()
        {
            controller.BufferSeconds = bufferSeconds;
            forwarder.LatencyTargetMilliseconds = (uint)Mathf.Max(0, latencyTargetMilliseconds);
            int blockFrames;
            int blockCount;
            AudioSettings.GetDSPBufferSize(out blockFrames, out blockCount);
            controller.Open(new EngineAudio(AudioSettings.outputSampleRate,
                                            ToLayout(AudioSettings.speakerMode), blockFrames));
            if (controller.GaveUp)
                enabled = false;
        }

        // Said once through the controller (or straight to the Console when the
        // controller itself could not be made); the output closes and the
        // component disables itself, which unsubscribes it from the engine's events.
        private void GiveUp(Exception e)
        {
            if (controller != null)
                controller.Fail(e);
            else
                Debug.LogException(e, this);
            if (enabled)
                enabled = false;
        }

        private static SpeakerLayout ToLayout(AudioSpeakerMode mode)
        {
            switch (mode)
            {
            case AudioSpeakerMode.Mono: return SpeakerLayout.Mono;
            case AudioSpeakerMode.Stereo: return SpeakerLayout.Stereo;
            case AudioSpeakerMode.Quad: return SpeakerLayout.Quad;
            case AudioSpeakerMode.Surround: return SpeakerLayout.Surround;
            case AudioSpeakerMode.Mode5point1: return SpeakerLayout.Mode5point1;
            case AudioSpeakerMode.Mode7point1: return SpeakerLayout.Mode7point1;
            case AudioSpeakerMode.Prologic: return SpeakerLayout.Prologic;
            default: return SpeakerLayout.Unknown;
            }
        }

        // The Console, with the component as the context a click selects.
        private sealed class ConsoleLog : IForwarderLog
        {
            private readonly UnityEngine.Object context;

            public ConsoleLog(UnityEngine.Object context)
            {
                this.context = context;
            }

            public void Info(string message)
            {
                Debug.Log(message, context);
            }

            public void Warning(string message)
            {
                Debug.LogWarning(message, context);
            }

            public void Error(string message)
            {
                Debug.LogError(message, context);
            }
        }
    }
}
