using UnityEditor;
using UnityEngine;

namespace ZVAudio.Output.Editor
{
    // Shows the live output counters under the component's settings.
    [CustomEditor(typeof(ZVAudioOutputForwarder))]
    public sealed class ZVAudioOutputForwarderEditor : UnityEditor.Editor
    {
        public override bool RequiresConstantRepaint()
        {
            return Application.isPlaying;
        }

        public override void OnInspectorGUI()
        {
            DrawDefaultInspector();

            var component = (ZVAudioOutputForwarder)target;
            EditorGUILayout.Space();
            EditorGUILayout.LabelField("Output", EditorStyles.boldLabel);
            OutputReport report;
            if (!component.IsOpen || !component.TryGetReport(out report))
            {
                EditorGUILayout.LabelField("Status", Application.isPlaying ? "Closed" : "Not playing");
                return;
            }
            using (new EditorGUI.DisabledScope(true))
            {
                EditorGUILayout.LabelField("Format", component.Format.ToString());
                EditorGUILayout.LabelField("Latency", string.Format("{0:F1} ms of {1:F0} ms",
                                                                    report.LatencyMilliseconds,
                                                                    report.RingMilliseconds));
                EditorGUILayout.LabelField("Underruns", string.Format("{0} requests, {1:F1} ms silence",
                                                                      report.Underruns,
                                                                      report.SilenceMilliseconds));
                EditorGUILayout.LabelField("Overwritten", report.OverwrittenSamples + " samples");
                EditorGUILayout.LabelField("Without stream", report.SamplesWithoutStream + " samples");
                EditorGUILayout.LabelField("Buffers filled", report.BuffersFilled.ToString());
            }
        }
    }
}
