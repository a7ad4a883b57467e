#include "curlsession.h"

CurlSession::CurlSession(long timeout) : m_easy(m_runner.Easy())
{
    if (!m_easy)
        return;
    curl_easy_setopt(m_easy, CURLOPT_CONNECTTIMEOUT, timeout);
    curl_easy_setopt(m_easy, CURLOPT_SERVER_RESPONSE_TIMEOUT, timeout);
    curl_easy_setopt(m_easy, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(m_easy, CURLOPT_LOW_SPEED_TIME, timeout);
    // Every request of one upload must name the same file: libcurl would
    // resolve "a/../x" in one path but not in another.
    curl_easy_setopt(m_easy, CURLOPT_PATH_AS_IS, 1L);
}
