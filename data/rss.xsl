<?xml version="1.0" encoding="UTF-8"?>
<!--
  Renders a stored feed copy (RSS 2.0, no namespace) as a readable page.
  Item descriptions are HTML in most feeds, so they are written out as
  markup; the program's browser runs pages with JavaScript off, so a
  feed's markup can show itself but never run script. Where an item has
  its full body (content:encoded) that is shown instead of the excerpt,
  and where the program fetched the item's whole article from its link
  (page:article) that is shown instead of both.
  Dates are shown in the reader's own zone and format when the program
  renders the page (its page:local-date); any other browser shows them as
  stored. An address is never shown as text longer than 200 characters.
  The parameter scheme ('light' or 'dark') follows the desktop's colour
  scheme: a dark one adds the class "dark" to the body and the rules for
  it; the light page is the page as it always was.
  The parameter pane is 'light' when the program's light pane (Qt's rich
  text) shows the page: that pane draws no borders around blocks and no
  generated content, so the page marks new items with a character of its
  own, names each item with an anchor and rules the items apart.
-->
<xsl:stylesheet version="1.0" xmlns:xsl="http://www.w3.org/1999/XSL/Transform"
                xmlns:content="http://purl.org/rss/1.0/modules/content/"
                xmlns:page="urn:quillet:page"
                exclude-result-prefixes="content page">
  <xsl:output method="html" encoding="UTF-8" indent="no"
              doctype-public="-//W3C//DTD HTML 4.01//EN"/>

  <xsl:param name="scheme" select="'light'"/>
  <xsl:param name="pane" select="'engine'"/>

  <xsl:template match="/">
    <html>
      <head>
        <title><xsl:apply-templates select="rss/channel" mode="name"/></title>
        <!-- Relative links and images in the items belong to the feed's site. -->
        <xsl:variable name="site" select="normalize-space(rss/channel/link)"/>
        <xsl:if test="starts-with($site, 'http://') or starts-with($site, 'https://')">
          <base href="{$site}"/>
        </xsl:if>
        <style type="text/css">
          body { font-family: "DejaVu Sans", Tahoma, Verdana, sans-serif; font-size: 10pt;
                 margin: 0; padding: 0 14px 14px 14px; color: #222; background: #fff; }
          .channel { border-bottom: 2px solid #3a6ea5; padding: 10px 0 8px 0; margin-bottom: 6px; }
          .channel h1 { font-size: 15pt; margin: 0 0 4px 0; }
          .channel h1 a { color: #1d3f66; text-decoration: none; }
          .channel h1 a:hover { text-decoration: underline; }
          .channel .about { color: #555; }
          .item { border-bottom: 1px solid #ddd; padding: 8px 0; }
          .item h2 { font-size: 11pt; margin: 0 0 2px 0; }
          .item h2 a { color: #1d3f66; text-decoration: none; }
          .item h2 a:hover { text-decoration: underline; }
          .item .date { color: #777; font-size: 8pt; margin-bottom: 4px; }
          .item .author { color: #555; }
          .item .enclosure { margin-top: 6px; font-size: 9pt; }
          .item .enclosure .type { color: #777; }
          .item .description { line-height: 1.35; overflow-wrap: break-word; }
          .item .description img { max-width: 100%; height: auto; }
          .item .description > :first-child { margin-top: 0; }
          .item .description > :last-child { margin-bottom: 0; }
          .empty { color: #777; padding: 8px 0; }
          .item .article-note { color: #555; font-style: italic; margin-bottom: 4px; }
          .item .article-links { margin-top: 6px; font-size: 9pt; }
          .new-summary { padding: 6px 0; font-weight: bold; }
          .new-summary a { color: #1d3f66; }
          .item.new { border-left: 3px solid #3a6ea5; padding-left: 8px; }
          .item.new h2::before { content: "\25CF\00A0"; color: #3a6ea5; font-size: 8pt; vertical-align: middle; }
          .new-mark { color: #3a6ea5; font-size: 8pt; }
          .item-state { color: #3a6ea5; font-size: 8pt; font-weight: normal; }
          .star { font-size: 9pt; font-weight: normal; color: #777; text-decoration: none; }
          .star.starred { color: #b8860b; }
          .item .source { color: #555; font-size: 9pt; }
          .view-pages { padding: 10px 0; font-weight: bold; }
          hr.rule { color: #ddd; }
        <xsl:if test="$scheme = 'dark'">
          :root { color-scheme: dark; }
          body.dark { color: #dcdcdc; background: #1e1f22; }
          body.dark a { color: #8ab4f8; }
          body.dark a:visited { color: #c58af9; }
          body.dark .channel { border-bottom-color: #5b8fd0; }
          body.dark .channel h1 a, body.dark .item h2 a { color: #a8c7fa; }
          body.dark .item h2 a:visited { color: #c9a8fa; }
          body.dark .channel .about, body.dark .item .author, body.dark .item .article-note { color: #b4b4b4; }
          body.dark .item { border-bottom-color: #3a3b40; }
          body.dark .item .date, body.dark .item .enclosure .type, body.dark .empty { color: #9c9c9c; }
          body.dark code, body.dark pre, body.dark kbd, body.dark samp { color: #e8e8e8; background: #2b2d31; }
          body.dark blockquote { color: #c8c8c8; border-color: #4a4c52; }
          body.dark table, body.dark th, body.dark td, body.dark hr { border-color: #4a4c52; }
          body.dark th { background: #2b2d31; }
          body.dark mark { color: #fff; background: #6b5b00; }
          body.dark .new-summary a { color: #a8c7fa; }
          body.dark .item.new { border-left-color: #5b8fd0; }
          body.dark .item.new h2::before { color: #5b8fd0; }
          body.dark .new-mark { color: #5b8fd0; }
          body.dark .item-state { color: #5b8fd0; }
          body.dark .star { color: #9c9c9c; }
          body.dark .star.starred { color: #e0b040; }
          body.dark .item .source { color: #b4b4b4; }
          body.dark hr.rule { color: #3a3b40; }
        </xsl:if></style>
      </head>
      <body>
        <xsl:if test="$scheme = 'dark'">
          <xsl:attribute name="class">dark</xsl:attribute>
        </xsl:if>
        <xsl:apply-templates select="rss/channel"/>
      </body>
    </html>
  </xsl:template>

  <!-- The feed's name as the reader gave it in the program, else its own. -->
  <xsl:template match="channel" mode="name">
    <xsl:choose>
      <xsl:when test="function-available('page:feed-name')">
        <xsl:value-of select="page:feed-name(string(title))"/>
      </xsl:when>
      <xsl:otherwise><xsl:value-of select="title"/></xsl:otherwise>
    </xsl:choose>
  </xsl:template>

  <xsl:template match="channel">
    <div class="channel">
      <h1>
        <xsl:choose>
          <xsl:when test="normalize-space(link)">
            <a href="{link}"><xsl:apply-templates select="." mode="name"/></a>
          </xsl:when>
          <xsl:otherwise><xsl:apply-templates select="." mode="name"/></xsl:otherwise>
        </xsl:choose>
      </h1>
      <xsl:if test="normalize-space(description)">
        <div class="about"><xsl:value-of select="description"/></div>
      </xsl:if>
    </div>
    <xsl:call-template name="new-summary"/>
    <xsl:apply-templates select="item"/>
    <xsl:if test="not(item)">
      <div class="empty">No items.</div>
    </xsl:if>
    <xsl:call-template name="view-pages"/>
  </xsl:template>

  <xsl:template match="item">
    <div class="item">
      <xsl:call-template name="item-marks"/>
      <xsl:if test="$pane = 'light' and function-available('page:item-anchor')">
        <a name="{page:item-anchor(., 'always')}"></a>
      </xsl:if>
      <h2>
        <xsl:if test="$pane = 'light' and function-available('page:is-new') and page:is-new(.)">
          <span class="new-mark">&#9679;&#160;</span>
        </xsl:if>
        <xsl:variable name="heading">
          <xsl:choose>
            <xsl:when test="normalize-space(title)"><xsl:value-of select="title"/></xsl:when>
            <xsl:otherwise>(untitled)</xsl:otherwise>
          </xsl:choose>
        </xsl:variable>
        <xsl:choose>
          <xsl:when test="normalize-space(link)">
            <a href="{link}"><xsl:value-of select="$heading"/></a>
          </xsl:when>
          <xsl:when test="guid[not(@isPermaLink = 'false')][starts-with(normalize-space(.), 'http')]">
            <a href="{normalize-space(guid)}"><xsl:value-of select="$heading"/></a>
          </xsl:when>
          <xsl:otherwise><xsl:value-of select="$heading"/></xsl:otherwise>
        </xsl:choose>
        <!-- The item's state in words, which a screen reader reads with
             the heading: the marks before it are for the eye. -->
        <xsl:if test="function-available('page:item-state')">
          <xsl:variable name="state" select="page:item-state(.)"/>
          <xsl:if test="string($state)">
            <xsl:text> </xsl:text>
            <span class="item-state"><xsl:value-of select="$state"/></span>
          </xsl:if>
        </xsl:if>
        <xsl:call-template name="star-link"/>
      </h2>
      <xsl:if test="normalize-space(source)">
        <div class="source"><xsl:value-of select="source"/></div>
      </xsl:if>
      <xsl:if test="normalize-space(pubDate) or normalize-space(author)">
        <div class="date">
          <xsl:if test="normalize-space(pubDate)">
            <xsl:choose>
              <xsl:when test="function-available('page:local-date')">
                <xsl:value-of select="page:local-date(string(pubDate))"/>
              </xsl:when>
              <xsl:otherwise><xsl:value-of select="pubDate"/></xsl:otherwise>
            </xsl:choose>
          </xsl:if>
          <xsl:if test="normalize-space(pubDate) and normalize-space(author)"> &#8212; </xsl:if>
          <xsl:if test="normalize-space(author)">
            <span class="author"><xsl:value-of select="author"/></span>
          </xsl:if>
        </div>
      </xsl:if>
      <!-- The full article the program fetched from the item's link, in
           place of the feed's body; else why not, above that body. -->
      <xsl:variable name="article">
        <xsl:if test="function-available('page:article')"><xsl:value-of select="page:article(., 'html')"/></xsl:if>
      </xsl:variable>
      <xsl:choose>
        <xsl:when test="string($article)">
          <div class="description article">
            <xsl:value-of select="page:article(., 'html')" disable-output-escaping="yes"/>
          </div>
        </xsl:when>
        <xsl:otherwise>
          <xsl:if test="function-available('page:article') and string(page:article(., 'note'))">
            <div class="article-note"><xsl:value-of select="page:article(., 'note')"/></div>
          </xsl:if>
          <xsl:choose>
            <xsl:when test="normalize-space(content:encoded)">
              <div class="description">
                <xsl:value-of select="content:encoded" disable-output-escaping="yes"/>
              </div>
            </xsl:when>
            <xsl:when test="normalize-space(description)">
              <div class="description">
                <xsl:value-of select="description" disable-output-escaping="yes"/>
              </div>
            </xsl:when>
          </xsl:choose>
        </xsl:otherwise>
      </xsl:choose>
      <xsl:apply-templates select="enclosure[normalize-space(@url)]"/>
      <xsl:call-template name="article-links">
        <xsl:with-param name="shown" select="string($article) != ''"/>
      </xsl:call-template>
    </div>
    <xsl:if test="$pane = 'light'"><hr class="rule"/></xsl:if>
  </xsl:template>

  <!-- Below a page of the program's Starred view: its newer and older pages. -->
  <xsl:template name="view-pages">
    <xsl:if test="function-available('page:view-link')">
      <xsl:variable name="newer" select="page:view-link('newer')"/>
      <xsl:variable name="older" select="page:view-link('older')"/>
      <xsl:if test="string($newer) or string($older)">
        <div class="view-pages">
          <xsl:if test="string($newer)"><a href="{$newer}"><xsl:value-of select="page:view-link('newer-label')"/></a></xsl:if>
          <xsl:if test="string($newer) and string($older)"> &#160;|&#160; </xsl:if>
          <xsl:if test="string($older)"><a href="{$older}"><xsl:value-of select="page:view-link('older-label')"/></a></xsl:if>
        </div>
      </xsl:if>
    </xsl:if>
  </xsl:template>

  <!-- Beside an item's title in the program: its star, which the program
       sets or takes away when clicked. -->
  <xsl:template name="star-link">
    <xsl:if test="function-available('page:star')">
      <xsl:variable name="href" select="page:star(., 'href')"/>
      <xsl:if test="string($href)">
        <xsl:text> </xsl:text>
        <a href="{$href}">
          <xsl:attribute name="class">
            <xsl:choose>
              <xsl:when test="page:star(., 'state') = 'starred'">star starred</xsl:when>
              <xsl:otherwise>star</xsl:otherwise>
            </xsl:choose>
          </xsl:attribute>
          <xsl:value-of select="page:star(., 'text')"/>
        </a>
      </xsl:if>
    </xsl:if>
  </xsl:template>

  <!-- Under an item with a link: the original page beside a shown article,
       else a link that asks the program to fetch the article now. -->
  <xsl:template name="article-links">
    <xsl:param name="shown"/>
    <xsl:if test="function-available('page:article') and starts-with(normalize-space(link), 'http')">
      <xsl:variable name="request" select="page:article(., 'request')"/>
      <xsl:choose>
        <xsl:when test="$shown">
          <div class="article-links"><a href="{normalize-space(link)}"><xsl:value-of select="page:article-label('original')"/></a></div>
        </xsl:when>
        <xsl:when test="string($request)">
          <div class="article-links"><a href="{$request}"><xsl:value-of select="page:article-label('read')"/></a></div>
        </xsl:when>
      </xsl:choose>
    </xsl:if>
  </xsl:template>

  <!-- The items unread in the program's item store: how many, with a link
       to the first, above the items; an anchor on every item and a class on
       the unread ones. Other browsers have none of it. -->
  <xsl:template name="new-summary">
    <xsl:if test="function-available('page:is-new')">
      <xsl:variable name="new" select="item[page:is-new(.)]"/>
      <xsl:if test="$new">
        <div class="new-summary">
          <a href="#{page:item-anchor($new[1])}"><xsl:value-of select="page:new-label(count($new))"/></a>
        </div>
      </xsl:if>
    </xsl:if>
  </xsl:template>

  <xsl:template name="item-marks">
    <xsl:if test="function-available('page:item-anchor')">
      <xsl:variable name="anchor" select="page:item-anchor(.)"/>
      <xsl:if test="string($anchor)">
        <xsl:attribute name="id"><xsl:value-of select="$anchor"/></xsl:attribute>
      </xsl:if>
      <xsl:if test="page:is-new(.)">
        <xsl:attribute name="class">item new</xsl:attribute>
      </xsl:if>
    </xsl:if>
  </xsl:template>

  <!-- A podcast's audio, a video or a picture: a link the reader can open,
       with what it is and how large. -->
  <xsl:template match="enclosure">
    <div class="enclosure">
      <a href="{normalize-space(@url)}">
        <xsl:variable name="name">
          <xsl:choose>
            <xsl:when test="function-available('page:file-name')">
              <xsl:value-of select="page:file-name(normalize-space(@url))"/>
            </xsl:when>
            <xsl:otherwise>
              <xsl:call-template name="file-name">
                <xsl:with-param name="url" select="substring-before(concat(normalize-space(@url), '?'), '?')"/>
              </xsl:call-template>
            </xsl:otherwise>
          </xsl:choose>
        </xsl:variable>
        <xsl:choose>
          <xsl:when test="normalize-space($name)"><xsl:value-of select="$name"/></xsl:when>
          <xsl:otherwise>Enclosure</xsl:otherwise>
        </xsl:choose>
      </a>
      <xsl:if test="normalize-space(@type) or number(@length) &gt; 0">
        <span class="type">
          <xsl:text> (</xsl:text>
          <xsl:value-of select="normalize-space(@type)"/>
          <xsl:if test="normalize-space(@type) and number(@length) &gt; 0">, </xsl:if>
          <xsl:if test="number(@length) &gt; 0">
            <xsl:call-template name="size">
              <xsl:with-param name="bytes" select="number(@length)"/>
            </xsl:call-template>
          </xsl:if>
          <xsl:text>)</xsl:text>
        </span>
      </xsl:if>
    </div>
  </xsl:template>

  <!-- The last path segment of an address, for browsers without the
       program's page:file-name. Finding it recurses once per "/" with a
       copy of the rest, so only a short address is searched; a longer one
       is shown cut to 200 characters. -->
  <xsl:template name="file-name">
    <xsl:param name="url"/>
    <xsl:choose>
      <xsl:when test="string-length($url) &gt; 200">
        <xsl:value-of select="concat(substring($url, 1, 200), '&#8230;')"/>
      </xsl:when>
      <xsl:when test="contains($url, '/') and substring-after($url, '/') != ''">
        <xsl:call-template name="file-name">
          <xsl:with-param name="url" select="substring-after($url, '/')"/>
        </xsl:call-template>
      </xsl:when>
      <xsl:otherwise><xsl:value-of select="$url"/></xsl:otherwise>
    </xsl:choose>
  </xsl:template>

  <xsl:template name="size">
    <xsl:param name="bytes"/>
    <xsl:choose>
      <xsl:when test="$bytes &gt;= 1073741824"><xsl:value-of select="format-number($bytes div 1073741824, '0.0')"/> GB</xsl:when>
      <xsl:when test="$bytes &gt;= 1048576"><xsl:value-of select="format-number($bytes div 1048576, '0.0')"/> MB</xsl:when>
      <xsl:when test="$bytes &gt;= 1024"><xsl:value-of select="format-number($bytes div 1024, '0')"/> KB</xsl:when>
      <xsl:otherwise><xsl:value-of select="$bytes"/> bytes</xsl:otherwise>
    </xsl:choose>
  </xsl:template>
</xsl:stylesheet>
