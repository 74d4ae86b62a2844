using System;
using System.Collections.Generic;
using UnityEditor;
using UnityEngine;

namespace ZVAudio.Output.Editor
{
    // The component's settings, what stands in its way, and the live counters.
    [CustomEditor(typeof(ZVAudioOutputForwarder))]
    public sealed class ZVAudioOutputForwarderEditor : UnityEditor.Editor
    {
        private static readonly GUIContent bufferSecondsLabel = new GUIContent(
            "Buffer seconds", "Seconds of audio the native ring holds before the oldest samples are overwritten.");
        private static readonly GUIContent loopbackLabel = new GUIContent(
            "Loopback", "Also let the engine play the audio through its own output.");
        private static readonly GUIContent latencyTargetLabel = new GUIContent(
            "Latency target (ms)",
            "Queue depth the plug-in steers towards (0 = off). Keeps clock drift from filling the ring and " +
                "splicing the stream; costs a resampling pass on the audio thread and an inaudible rate " +
                "correction of at most 1000 ppm.");

        // What the upgrade of the component's saved fields changed, shown until
        // the component is deselected.
        private string migrationNote;

        public override bool RequiresConstantRepaint()
        {
            return Application.isPlaying;
        }

        public override void OnInspectorGUI()
        {
            serializedObject.Update();
            EditorGUILayout.PropertyField(serializedObject.FindProperty("bufferSeconds"), bufferSecondsLabel);
            EditorGUILayout.PropertyField(serializedObject.FindProperty("loopback"), loopbackLabel);
            EditorGUILayout.PropertyField(serializedObject.FindProperty("latencyTargetMilliseconds"),
                                          latencyTargetLabel);
            // Loaded data was migrated already; what is edited here is current.
            SerializedProperty version = serializedObject.FindProperty("formatVersion");
            if (version != null && version.intValue < ForwarderMigration.kCurrentVersion)
                version.intValue = ForwarderMigration.kCurrentVersion;
            serializedObject.ApplyModifiedProperties();

            var component = (ZVAudioOutputForwarder)target;
            DrawMigration(component);
            DrawListenerWarnings(component);
            DrawFilterWarnings(component);
            DrawPluginWarnings(component);
            DrawCounters(component);
        }

        // Said once in the Console too, from the main thread.
        private void DrawMigration(ZVAudioOutputForwarder component)
        {
            string note = component.TakeMigrationNote();
            if (note != null)
            {
                Debug.Log(note, component);
                migrationNote = note;
            }
            if (migrationNote != null)
                EditorGUILayout.HelpBox(migrationNote, MessageType.Info);
        }

        // Without a running listener or source the filter gets no blocks: the
        // stream opens and requests go unanswered, with no other word why.
        private static void DrawListenerWarnings(ZVAudioOutputForwarder component)
        {
            var listener = component.GetComponent<AudioListener>();
            if (listener == null && component.GetComponent<AudioSource>() == null)
                EditorGUILayout.HelpBox("No AudioListener or AudioSource on this GameObject: the engine never " +
                                            "runs its audio filters here, so nothing is forwarded.",
                                        MessageType.Warning);
            else if (listener != null && !listener.enabled)
                EditorGUILayout.HelpBox("The AudioListener on this GameObject is disabled: the engine runs no " +
                                            "audio filters here, so the output gets no audio and its requests " +
                                            "go unanswered (Requests deferred rises).",
                                        MessageType.Warning);
            if (listener != null && AudioListener.pause)
                EditorGUILayout.HelpBox("AudioListener.pause is set: the engine's audio is paused, so the output " +
                                            "gets no audio until it is cleared.",
                                        MessageType.Warning);
        }

        private static void DrawFilterWarnings(ZVAudioOutputForwarder component)
        {
            Component[] components = component.GetComponents<Component>();
            var types = new List<Type>(components.Length);
            int self = -1;
            for (int i = 0; i < components.Length; ++i)
            {
                types.Add(components[i] == null ? null : components[i].GetType());
                if (components[i] == component)
                    self = i;
            }
            List<string> below = AudioFilterChain.FiltersBelow(types, self);
            if (below.Count > 0)
                EditorGUILayout.HelpBox("Audio filters below the forwarder (" + string.Join(", ", below.ToArray()) +
                                            ") are neither forwarded nor muted. Move the forwarder to the bottom.",
                                        MessageType.Warning);
        }

        // In edit mode the DLLs are judged from their files and import settings
        // and never loaded (a loaded DLL stays locked until the Editor quits, and
        // "Add package from tarball" cannot replace a locked file); while
        // playing, by what the component met.
        private static void DrawPluginWarnings(ZVAudioOutputForwarder component)
        {
            List<string> setupProblems = ZVAudioOutputPluginSetup.Problems;
            if (setupProblems.Count > 0)
            {
                EditorGUILayout.HelpBox(string.Join("\n", setupProblems.ToArray()), MessageType.Error);
                if (GUILayout.Button("Set Up Platform DLLs"))
                    EditorUtility.DisplayDialog("ZV Audio Output", ZVAudioOutputPluginSetup.SetUp(), "OK");
            }
            List<string> setupNotes = ZVAudioOutputPluginSetup.Notes;
            if (setupNotes.Count > 0)
                EditorGUILayout.HelpBox(string.Join("\n", setupNotes.ToArray()), MessageType.Warning);
            bool running = Application.isPlaying && component.isActiveAndEnabled;
            AudioForwarder.OpenResult state = running                      ? component.Status
                                              : AudioForwarder.IsSupported ? AudioForwarder.OpenResult.Closed
                                                                           : AudioForwarder.OpenResult.Unsupported;
            string detail = component.Problem;
            switch (state)
            {
            case AudioForwarder.OpenResult.Unsupported:
                EditorGUILayout.HelpBox("This platform is not supported: the plug-in runs in the Windows " +
                                            "x86-64 Editor and player only.", MessageType.Warning);
                break;
            case AudioForwarder.OpenResult.Needs64Bit:
                EditorGUILayout.HelpBox("The plug-in needs a 64-bit (x86-64) process.", MessageType.Warning);
                break;
            case AudioForwarder.OpenResult.PluginMissing:
                EditorGUILayout.HelpBox("ZVAudioOutput.dll could not be loaded (" + detail + ").",
                                        MessageType.Error);
                break;
            case AudioForwarder.OpenResult.BindFailed:
                EditorGUILayout.HelpBox("The runtime could not bind ZVAudioOutput.dll (" + detail + ").",
                                        MessageType.Error);
                break;
            case AudioForwarder.OpenResult.PluginOutOfDate:
                EditorGUILayout.HelpBox("The plug-in ZVAudioOutput is out of date (it lacks " + detail +
                                            ").", MessageType.Error);
                break;
            case AudioForwarder.OpenResult.NoStream:
                EditorGUILayout.HelpBox("The platform refused the output stream (its reason is in the log). " +
                                            "The engine's audio plays as usual; the output is tried again on " +
                                            "the next audio configuration change or re-enable.",
                                        MessageType.Warning);
                break;
            case AudioForwarder.OpenResult.Waiting:
                EditorGUILayout.HelpBox("Another forwarder owns the output; this one takes over when that " +
                                            "one is disabled or destroyed.", MessageType.Info);
                break;
            case AudioForwarder.OpenResult.NoInstance:
                EditorGUILayout.HelpBox("The plug-in could not create its output instance.", MessageType.Error);
                break;
            }
        }

        private static void DrawCounters(ZVAudioOutputForwarder component)
        {
            EditorGUILayout.Space();
            EditorGUILayout.LabelField("Output", EditorStyles.boldLabel);
            OutputReport report;
            if (!component.TryGetReport(out report))
            {
                EditorGUILayout.LabelField("Status", Application.isPlaying ? component.Status.ToString() : "Not playing");
                return;
            }
            using (new EditorGUI.DisabledScope(true))
            {
                EditorGUILayout.LabelField("Status", component.Status.ToString());
                EditorGUILayout.LabelField("Format", component.Format.ToString());
                EditorGUILayout.LabelField("Latency", string.Format("{0:F1} ms of {1:F0} ms",
                                                                    report.LatencyMilliseconds,
                                                                    report.RingMilliseconds));
                if (report.LatencyTargetMilliseconds > 0)
                    EditorGUILayout.LabelField("Latency control",
                                               string.Format("target {0} ms, smoothed depth {1:F1} ms, " +
                                                                 "correction {2:+0.0;-0.0;0} ppm",
                                                             report.LatencyTargetMilliseconds,
                                                             report.SmoothedDepthMilliseconds,
                                                             report.CorrectionPpm));
                else
                    EditorGUILayout.LabelField("Latency control", "off");
                if (report.LatencyTargetMilliseconds > 0 && report.HasRingLimits)
                    EditorGUILayout.LabelField("Ring",
                                               string.Format("{0}: the cadence needs {1:F0} ms, the ring allows {2:F0} ms",
                                                             report.LimitedByRing ? "too small" : "large enough",
                                                             report.NeededMilliseconds,
                                                             report.RingAllowsMilliseconds));
                EditorGUILayout.LabelField("Requests deferred",
                                           string.Format("{0} (ring empty), {1:F1} ms silence padded",
                                                         report.RequestsDeferred, report.SilenceMilliseconds));
                EditorGUILayout.LabelField("Overwritten", report.OverwrittenSamples + " samples");
                EditorGUILayout.LabelField("Without stream", report.SamplesWithoutStream + " samples");
                EditorGUILayout.LabelField("Buffers filled", report.BuffersFilled.ToString());
            }
            if (report.LatencyTargetMilliseconds > 0 && report.LimitedByRing)
                EditorGUILayout.HelpBox(string.Format("The ring cannot hold what the engine's and the device's cadence " +
                                                          "needs, so latency control holds the deepest queue it allows. " +
                                                          "A Buffer seconds of {0} would fit.",
                                                      report.FittingBufferSeconds),
                                        MessageType.Warning);
        }
    }
}
