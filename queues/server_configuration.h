// The configuration record of the whole product, as the parent sends it
// (SERVER_CONFIGURATION). This process uses a few of its keys; the others
// are read and kept as they come.
#pragma once

#include <cstdint>
#include <set>
#include <string>

#include "util/time_value.h"

namespace control {

struct Server_Configuration_Fields {
    std::string layout_conf_path;
    std::string dbms_tsdb_file_path;
    std::string dbms_odb_file_path;
    std::string dbms_odbj_file_path;
    std::string dbms_cache_tracefile;
    std::string dbms_event_tracefile;
    std::string dbms_tsdb_tracefile;
    uint32_t dbms_cache_size = 0;
    uint32_t dbms_cache_kin = 0;
    uint32_t dbms_cache_kout = 0;
    uint32_t dbms_buffer_blocks = 0;
    std::string variable_file;
    uint32_t smem_size = 0;
    std::string smem_prefix;
    std::string resource_directory;
    uint32_t log_mask = 0;
    bool passive = false;
    uint32_t socketio_bind_port = 0;
    uint32_t broadcast_bind_port = 0;
    bool socketio_legacy = false;
    uint32_t socketio_max_connections = 0;
    uint32_t socketio_max_inflight = 0;
    uint32_t socketio_agentconf_rate = 0;
    uint32_t socketio_agentconf_burst = 0;
    uint32_t remcheck_limit_children = 0;
    uint32_t remcheck_ping_spacing = 0;
    uint32_t netcheck_process_pool_size = 0;
    std::string custom_netcheck_conf;
    uint32_t dns_cache_secs = 0;
    std::string libssl;
    std::string system_log_dir_path;
    uint32_t log_days = 0;
    std::string working_directory;
    bool disable_alerts = false;
    std::string alert_textmail_ending;
    std::string alert_sms_ending;
    std::string alert_sms_subject;
    std::string alert_htmlmail_ending;
    std::string webinterface_url;
    std::string mail_server;
    std::string mail_from;
    std::string reply_mail_to;
    std::string modem_port;
    std::string modem_init;
    std::string modem_sim_pin;
    std::set<std::string> modem_options;
    uint32_t modem_baud_rate = 0;
    uint32_t modem_pager_timeout = 0;
    bool alert_to_event_log = false;
    bool alert_to_incident_log = false;
    bool alert_defer_at_boot = false;
    uint32_t alert_attempts = 0;
    uint32_t alert_retry_delay = 0;
    uint32_t max_snmp_table_entries = 0;
    uint32_t snmp_reconfig_delay = 0;
    uint32_t snmp_max_retrans = 0;
    uint32_t snmp_max_retrans_walk = 0;
    util::TimeValue snmp_timeout_initial;
    util::TimeValue snmp_timeout_max;
    uint32_t snmp_packet_spacing = 0;
    uint32_t mtu = 0;
    std::string host_name;
    std::string cluster_members;
    std::string cluster_options;
    std::string report_generator;
    bool upload_serverinfo = false;
    std::string agent_package_path;
    uint32_t spare_keypool_size = 0;
    bool keypool_reuse = false;
    bool skio_insecure = false;
    uint32_t concurrent_check_recoveries = 0;
    std::string stop_on_log_match;
    uint32_t max_scan_processes = 0;
    uint32_t ssec_keylength = 0;
    uint32_t ssec_min_keylength = 0;
    uint32_t ssec_secret_keylength = 0;
    uint32_t ssec_secret_min_keylength = 0;
    uint32_t ssec_secret_lifetime = 0;
    uint32_t grid_default_ttl = 0;
    uint32_t master_notify_queue = 0;
    bool satellite_tsdb_async = false;
    std::string allowed_candidate_nodes;
    bool tsdb_upgrade_discard_bufferlevels = false;
    uint32_t tsdb_buffer_entries = 0;
    uint32_t tsdb_buffer_write_min = 0;
    uint32_t tsdb_buffer_age_max = 0;
    uint32_t tsdb_buffer_flush_batch = 0;

    template <typename S, typename F>
    static void visit(S& s, F&& f) {
        f("layout_conf_path", s.layout_conf_path);
        f("dbms_tsdb_file_path", s.dbms_tsdb_file_path);
        f("dbms_odb_file_path", s.dbms_odb_file_path);
        f("dbms_odbj_file_path", s.dbms_odbj_file_path);
        f("dbms_cache_tracefile", s.dbms_cache_tracefile);
        f("dbms_event_tracefile", s.dbms_event_tracefile);
        f("dbms_tsdb_tracefile", s.dbms_tsdb_tracefile);
        f("dbms_cache_size", s.dbms_cache_size);
        f("dbms_cache_kin", s.dbms_cache_kin);
        f("dbms_cache_kout", s.dbms_cache_kout);
        f("dbms_buffer_blocks", s.dbms_buffer_blocks);
        f("variable_file", s.variable_file);
        f("smem_size", s.smem_size);
        f("smem_prefix", s.smem_prefix);
        f("resource_directory", s.resource_directory);
        f("log_mask", s.log_mask);
        f("passive", s.passive);
        f("socketio_bind_port", s.socketio_bind_port);
        f("broadcast_bind_port", s.broadcast_bind_port);
        f("socketio_legacy", s.socketio_legacy);
        f("socketio_max_connections", s.socketio_max_connections);
        f("socketio_max_inflight", s.socketio_max_inflight);
        f("socketio_agentconf_rate", s.socketio_agentconf_rate);
        f("socketio_agentconf_burst", s.socketio_agentconf_burst);
        f("remcheck_limit_children", s.remcheck_limit_children);
        f("remcheck_ping_spacing", s.remcheck_ping_spacing);
        f("netcheck_process_pool_size", s.netcheck_process_pool_size);
        f("custom_netcheck_conf", s.custom_netcheck_conf);
        f("dns_cache_secs", s.dns_cache_secs);
        f("libssl", s.libssl);
        f("system_log_dir_path", s.system_log_dir_path);
        f("log_days", s.log_days);
        f("working_directory", s.working_directory);
        f("disable_alerts", s.disable_alerts);
        f("alert_textmail_ending", s.alert_textmail_ending);
        f("alert_sms_ending", s.alert_sms_ending);
        f("alert_sms_subject", s.alert_sms_subject);
        f("alert_htmlmail_ending", s.alert_htmlmail_ending);
        f("webinterface_url", s.webinterface_url);
        f("mail_server", s.mail_server);
        f("mail_from", s.mail_from);
        f("reply_mail_to", s.reply_mail_to);
        f("modem_port", s.modem_port);
        f("modem_init", s.modem_init);
        f("modem_sim_pin", s.modem_sim_pin);
        f("modem_options", s.modem_options);
        f("modem_baud_rate", s.modem_baud_rate);
        f("modem_pager_timeout", s.modem_pager_timeout);
        f("alert_to_event_log", s.alert_to_event_log);
        f("alert_to_incident_log", s.alert_to_incident_log);
        f("alert_defer_at_boot", s.alert_defer_at_boot);
        f("alert_attempts", s.alert_attempts);
        f("alert_retry_delay", s.alert_retry_delay);
        f("max_snmp_table_entries", s.max_snmp_table_entries);
        f("snmp_reconfig_delay", s.snmp_reconfig_delay);
        f("snmp_max_retrans", s.snmp_max_retrans);
        f("snmp_max_retrans_walk", s.snmp_max_retrans_walk);
        f("snmp_timeout_initial", s.snmp_timeout_initial);
        f("snmp_timeout_max", s.snmp_timeout_max);
        f("snmp_packet_spacing", s.snmp_packet_spacing);
        f("mtu", s.mtu);
        f("host_name", s.host_name);
        f("cluster_members", s.cluster_members);
        f("cluster_options", s.cluster_options);
        f("report_generator", s.report_generator);
        f("upload_serverinfo", s.upload_serverinfo);
        f("agent_package_path", s.agent_package_path);
        f("spare_keypool_size", s.spare_keypool_size);
        f("keypool_reuse", s.keypool_reuse);
        f("skio_insecure", s.skio_insecure);
        f("concurrent_check_recoveries", s.concurrent_check_recoveries);
        f("stop_on_log_match", s.stop_on_log_match);
        f("max_scan_processes", s.max_scan_processes);
        f("ssec_keylength", s.ssec_keylength);
        f("ssec_min_keylength", s.ssec_min_keylength);
        f("ssec_secret_keylength", s.ssec_secret_keylength);
        f("ssec_secret_min_keylength", s.ssec_secret_min_keylength);
        f("ssec_secret_lifetime", s.ssec_secret_lifetime);
        f("grid_default_ttl", s.grid_default_ttl);
        f("master_notify_queue", s.master_notify_queue);
        f("satellite_tsdb_async", s.satellite_tsdb_async);
        f("allowed_candidate_nodes", s.allowed_candidate_nodes);
        f("tsdb_upgrade_discard_bufferlevels", s.tsdb_upgrade_discard_bufferlevels);
        f("tsdb_buffer_entries", s.tsdb_buffer_entries);
        f("tsdb_buffer_write_min", s.tsdb_buffer_write_min);
        f("tsdb_buffer_age_max", s.tsdb_buffer_age_max);
        f("tsdb_buffer_flush_batch", s.tsdb_buffer_flush_batch);
    }
};

}  // namespace control
